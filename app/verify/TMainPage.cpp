// The verification page's view state and stage.
#include "app/verify/TMainPage.h"

#include "app/window/IPrompter.h"

namespace rv {

void TMainPage::SetStatus(const std::string& text)
{
    view_.LStatusCaption = text;
    view_.LStatusIsProgress = false;
    Notify(vcStatus);
}

void TMainPage::SetRunStatus(const std::string& phase, const std::string& left)
{
    if (phase != view_.RunPhase) {
        view_.RunPhase = phase;
        Notify(vcPhase);
    }
    const std::string text = left.empty() ? phase : phase + ", " + left;
    if (view_.LStatusIsProgress && text == view_.LStatusCaption) return;
    view_.LStatusCaption = text;
    view_.LStatusIsProgress = true;
    Notify(vcStatus);
}

void TMainPage::ClearMemo()
{
    view_.Memo1Lines.clear();
    unsaved_ = false;
    Notify(vcMemoCleared);
}

void TMainPage::AddLine(const std::string& line)
{
    view_.Memo1Lines.push_back(line);
    unsaved_ = true;
    Notify(vcMemoAdded);
}

void TMainPage::SetProgress(int min, int max, int position)
{
    view_.ProgressBar3Min = min;
    view_.ProgressBar3Max = max;
    view_.ProgressBar3Position = position;
    Notify(vcProgress);
}

void TMainPage::SetProgressPosition(int position)
{
    view_.ProgressBar3Position = position;
    Notify(vcProgress);
}

void TMainPage::SetStage(TMainStage stage)
{
    stage_ = stage;
    if (stage != msStopped) stopReason_.clear();
    Notify(vcStage);
}

void TMainPage::Stop(const std::string& message)
{
    prompter_.Message(message, "Ошибка");
    Stopped(message);
}

void TMainPage::Stopped(const std::string& reason)
{
    stopReason_ = reason;
    stage_ = msStopped;
    Notify(vcStage);
}

void TMainPage::Close()
{
    stage_ = msClosing;
    Notify(vcStage);
    Notify(vcClose);
}

}  // namespace rv
