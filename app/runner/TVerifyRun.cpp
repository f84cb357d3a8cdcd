// The headless verification: the answers of the boxes and dialogs, and the course of the run.
#include "app/runner/TVerifyRun.h"

#include "app/verify/TFMainController.h"
#include "app/window/MeterImages.h"
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
    ctl_->OnViewChanged = [this](TViewChange change) { ViewChanged(change); };
    ctl_->SetChBDopInfoChecked(options_.ExtraInfo);
    ctl_->SetCBPortNameText(portName);
    ctl_->SetSBOpenCloseDown(true);
    if (options_.TimeoutSeconds > 0) {
        timeLimit_ = MakeTimer(loop, "TimeLimit", static_cast<uint32_t>(options_.TimeoutSeconds) * 1000u);
        timeLimit_->OnTimer = Bind(this, &TVerifyRun::TimeLimit);
        timeLimit_->Start();
    }
    Log("Соединение с прибором через " + portName);
    ctl_->SBOpenCloseClick();
}

void TVerifyRun::TimeLimit(TObject*)
{
    timeLimit_->Stop();
    Stop("истекло время работы, " + std::to_string(options_.TimeoutSeconds) + " с");
}

void TVerifyRun::Stop(const std::string& reason)
{
    if (finished_ || stopped_) return;
    stopped_ = true;
    Log("Остановка: " + reason);
    // A run under way ends with its interruption line once its emulation is off; anything else ends here.
    ctl_->Interrupt(reason, [this, reason] { Finish(veStopped, "Поверка прервана: " + reason + "."); });
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
            // The course of a run goes to the progress line and the phase lines, not line by line.
            if (view.LStatusIsProgress)
                Progress(view.ProgressBar3Position, view.LStatusCaption);
            else
                LogStatus(view.LStatusCaption);
            break;
        case vcPhase:
            if (!view.RunPhase.empty()) Log(view.RunPhase);
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
                    // The connect button comes up when the port would not open, or was lost once open; a meter
                    // that stopped answering is a line lost too.
                    if (stopped_)
                        Finish(veStopped, view.LStatusCaption);
                    else if (ctl_->MeterSilent())
                        Finish(veLineLost, ctl_->StopReason());
                    else
                        Finish(view.SBOpenCloseDown ? veIncomplete : opened_ ? veLineLost : vePort,
                               ctl_->StopReason());
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

void TVerifyRun::Release(std::function<void()> done)
{
    if (timeLimit_) timeLimit_->Stop();
    // A run still under way is stopped first, so the meter is not left emulating when the program ends.
    ctl_->Interrupt("работа программы завершена", [this, done] {
        if (ctl_->View().SBOpenCloseDown) {
            ctl_->SetSBOpenCloseDown(false);
            ctl_->SBOpenCloseClick();
        }
        done();
    });
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
