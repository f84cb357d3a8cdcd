// The headless verification: the run driven from the command line's options, its protocol, course and progress.
#include "app/runner/TVerifyRun.h"

#include "core/Loop.h"
#include "core/TTimer.h"

namespace rv {

TVerifyRun::TVerifyRun(SVerifyOptions options, std::ostream& protocol, std::ostream& log)
    : THeadlessRun(log), options_(std::move(options)), protocol_(protocol)
{
}

TVerifyRun::~TVerifyRun()
{
    if (timeLimit_) timeLimit_->Stop();
    if (ctl_) ctl_->OnViewChanged = nullptr;
}

void TVerifyRun::Start(TFMainController& controller, Loop& loop, const std::string& portName)
{
    ctl_ = &controller;
    loop_ = &loop;
    driver_ = std::make_unique<TVerifyDriver>(controller, loop, SVerifyDrive::Of(options_, "Программа завершена."));
    driver_->Log = [this](const std::string& text) { Log(text); };
    driver_->OnEnd = [this](TBenchOutcome outcome, const std::string& message) { Finish(outcome, message); };
    driver_->ReportPath = [this] { return options_.Report; };
    driver_->OnSaved = [this](const std::string& path) { Log("Протокол сохранен в файл " + path); };
    ctl_->OnViewChanged = [this](TViewChange change) { ViewChanged(change); };
    if (options_.TimeoutSeconds > 0) {
        timeLimit_ = MakeTimer(loop, "TimeLimit", static_cast<uint32_t>(options_.TimeoutSeconds) * 1000u);
        timeLimit_->OnTimer = Bind(this, &TVerifyRun::TimeLimit);
        timeLimit_->Start();
    }
    driver_->Connect(portName);
}

void TVerifyRun::TimeLimit(TObject*)
{
    timeLimit_->Stop();
    Stop("истекло время работы, " + std::to_string(options_.TimeoutSeconds) + " с");
}

void TVerifyRun::Stop(const std::string& reason)
{
    // Nothing runs before Start.
    if (!finished_ && driver_) driver_->Stop(reason);
}

void TVerifyRun::ViewChanged(TViewChange change)
{
    if (finished_) return;
    const SMainView& view = ctl_->View();
    switch (change) {
        case vcMemoAdded:
            protocol_ << view.Memo1Lines.back() << '\n' << std::flush;
            break;
        case vcStatus:
            // The course of a run goes to the progress line and the phase lines, not line by line.
            if (view.LStatusIsProgress)
                Progress(view.ProgressBar3Position, view.LStatusCaption);
            else
                LogStatus(view.LStatusCaption);
            break;
        default:
            driver_->Follow(change);
            break;
    }
}

void TVerifyRun::Release(std::function<void()> done)
{
    if (timeLimit_) timeLimit_->Stop();
    if (!driver_) {
        done();
        return;
    }
    // A run still under way is stopped first, so the meter is not left emulating when the program ends.
    driver_->Release("работа программы завершена", std::move(done));
}

bool TVerifyRun::Question(const std::string& text, const std::string& caption)
{
    return Answer(text, caption, options_.AnswerYes);
}

std::optional<int> TVerifyRun::ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices)
{
    return driver_ ? driver_->ChooseSensor(dialog, choices) : std::nullopt;
}

std::optional<std::string> TVerifyRun::SaveFileName(const SSaveDialog&)
{
    return driver_ ? driver_->SaveFileName() : std::nullopt;
}

void TVerifyRun::ShowException(const std::exception& error)
{
    if (driver_)
        driver_->ShowException(error);
    else
        Log(std::string("Ошибка: ") + error.what());
}

}  // namespace rv
