// The headless verification: the answers of the boxes and dialogs, and the course of the run.
#include "app/runner/TVerifyRun.h"

#include "app/verify/TFMainController.h"
#include "app/window/MeterImages.h"
#include "core/Loop.h"

namespace rv {

TVerifyRun::TVerifyRun(SVerifyOptions options, std::ostream& protocol, std::ostream& log)
    : THeadlessRun(log), options_(std::move(options)), protocol_(protocol)
{
}

TVerifyRun::~TVerifyRun()
{
    if (ctl_) ctl_->OnViewChanged = nullptr;
}

void TVerifyRun::Start(TFMainController& controller, Loop& loop, const std::string& portName)
{
    ctl_ = &controller;
    loop_ = &loop;
    ctl_->OnViewChanged = [this](TViewChange change) { ViewChanged(change); };
    ctl_->SetChBDopInfoChecked(options_.ExtraInfo);
    ctl_->SetCBPortNameText(portName);
    ctl_->SetSBOpenCloseDown(true);
    Log("Соединение с прибором через " + portName);
    ctl_->SBOpenCloseClick();
}

void TVerifyRun::ViewChanged(int change)
{
    if (finished_) return;
    const SMainView& view = ctl_->View();
    switch (change) {
        case vcMemoAdded:
            protocol_ << view.Memo1Lines.back() << '\n' << std::flush;
            break;
        case vcStatus:
            LogStatus(view.LStatusCaption);
            break;
        case vcStage:
            switch (ctl_->Stage()) {
                case msIdentifying:
                    opened_ = true;
                    break;
                case msReady:
                    if (pressed_) break;
                    pressed_ = true;
                    // Pressed from the loop, not from inside the handler that enabled the button.
                    loop_->Post([this] {
                        if (finished_) return;
                        Log("Поверка" + std::string(options_.Reverse ? " с потоком в обратном направлении" : ""));
                        ctl_->SetChB_backChecked(options_.Reverse);
                        ctl_->Button1Click();
                    });
                    break;
                case msDone:
                    loop_->Post([this] { Done(); });
                    break;
                case msStopped:
                    // The connect button comes up when the port would not open, or was lost once open.
                    Finish(view.SBOpenCloseDown ? veIncomplete : opened_ ? veLineLost : vePort, ctl_->StopReason());
                    break;
                case msClosing:
                    Finish(veIncomplete, ctl_->StopReason().empty() ? "Программа завершена." : ctl_->StopReason());
                    break;
                default:
                    break;
            }
            break;
        default:
            break;
    }
}

void TVerifyRun::Done()
{
    if (finished_) return;
    if (const int skipped = ctl_->SkippedPoints(); skipped > 0) {
        Finish(veIncomplete, "Протокол неполон: не проверено точек - " + std::to_string(skipped) + ".");
        return;
    }
    if (!options_.Report.empty()) {
        saving_ = true;
        ctl_->SpeedButton1Click();
        saving_ = false;
        if (saveFailed_) {
            Finish(veIncomplete, "Протокол не сохранен.");
            return;
        }
        Log("Протокол сохранен в файл " + options_.Report);
    }
    Finish(veComplete, "Поверка завершена.");
}

void TVerifyRun::Release()
{
    if (!ctl_->View().SBOpenCloseDown) return;
    ctl_->SetSBOpenCloseDown(false);
    ctl_->SBOpenCloseClick();
}

bool TVerifyRun::Question(const std::string& text, const std::string& caption)
{
    return Answer(text, caption, options_.AnswerYes);
}

std::optional<int> TVerifyRun::ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices)
{
    const std::string offered = LogChoices(dialog, choices);
    if (choices.empty()) {
        Finish(veIncomplete, "Прибор не предлагает ни одного датчика для поверки.");
        return std::nullopt;
    }
    if (!options_.Sensor) return choices.front().Position;
    for (const SSensorChoice& c : choices)
        if (c.Position == *options_.Sensor) return c.Position;
    Finish(veUsage, "Датчик в позиции " + std::to_string(*options_.Sensor) +
                        " не предлагается для поверки; предлагаются позиции " + offered + ".");
    return std::nullopt;
}

std::optional<std::string> TVerifyRun::SaveFileName(const SSaveDialog&)
{
    if (options_.Report.empty()) return std::nullopt;
    return options_.Report;
}

void TVerifyRun::ShowException(const std::exception& error)
{
    Log(std::string("Ошибка: ") + error.what());
    if (saving_) {
        saveFailed_ = true;
        return;
    }
    Finish(veIncomplete, error.what());
}

}  // namespace rv
