// One verification driven without a person: the course from connect to the end, and the answers of its prompter.
#include "app/bench/TVerifyDriver.h"

#include "app/window/MeterImages.h"
#include "core/Loop.h"

namespace rv {

TVerifyDriver::TVerifyDriver(TFMainController& controller, Loop& loop, SVerifyDrive drive)
    : ctl_(controller), loop_(loop), drive_(std::move(drive))
{
}

void TVerifyDriver::Say(const std::string& text)
{
    if (Log) Log(text);
}

void TVerifyDriver::Later(std::function<void()> fn)
{
    loop_.Post([alive = std::weak_ptr<int>(alive_), fn = std::move(fn)] {
        if (alive.lock()) fn();
    });
}

void TVerifyDriver::End(TBenchOutcome outcome, const std::string& message)
{
    if (ended_) return;
    ended_ = true;
    if (OnEnd) OnEnd(outcome, message);
}

// --- Course

void TVerifyDriver::Connect(const std::string& portName)
{
    ctl_.SetChBDopInfoChecked(drive_.ExtraInfo);
    ctl_.SetCBPortNameText(portName);
    ctl_.SetSBOpenCloseDown(true);
    Say("Соединение с прибором через " + portName);
    ctl_.SBOpenCloseClick();
}

bool TVerifyDriver::Stop(const std::string& reason)
{
    if (ended_ || stopping_) return false;
    stopping_ = true;
    Say("Остановка: " + reason);
    if (OnStopping) OnStopping();
    // A run under way ends with its interruption line once its emulation is off; anything else ends here.
    ctl_.Interrupt(reason, [this, reason] { End(boStopped, "Поверка прервана: " + reason + "."); });
    return true;
}

void TVerifyDriver::Follow(TViewChange change)
{
    if (ended_) return;
    const SMainView& view = ctl_.View();
    switch (change) {
        case vcPhase:
            if (!view.RunPhase.empty()) Say(view.RunPhase);
            break;
        case vcStage:
            switch (ctl_.Stage()) {
                case msIdentifying:
                    opened_ = true;
                    break;
                case msReady:
                    if (pressed_) break;
                    pressed_ = true;
                    // Pressed from the loop, not from inside the handler that enabled the button.
                    Later([this] {
                        if (ended_ || stopping_) return;
                        Say("Поверка" + std::string(drive_.Reverse ? " с потоком в обратном направлении" : ""));
                        ctl_.SetChB_backChecked(drive_.Reverse);
                        ctl_.Button1Click();
                    });
                    break;
                case msDone:
                    Later([this] { Done(); });
                    break;
                case msStopped:
                    // The connect button comes up when the port would not open, or was lost once open; a meter
                    // that stopped answering is a line lost too.
                    if (stopping_)
                        End(boStopped, view.LStatusCaption);
                    else if (ctl_.MeterSilent())
                        End(boLineLost, ctl_.StopReason());
                    else
                        End(view.SBOpenCloseDown ? boIncomplete : opened_ ? boLineLost : boPort, ctl_.StopReason());
                    break;
                case msClosing:
                    End(boIncomplete, ctl_.StopReason().empty() ? drive_.ClosingMessage : ctl_.StopReason());
                    break;
                default:
                    break;
            }
            break;
        default:
            break;
    }
}

void TVerifyDriver::Done()
{
    if (ended_) return;
    if (const int skipped = ctl_.SkippedPoints(); skipped > 0) {
        End(boIncomplete, "Протокол неполон: не проверено точек - " + std::to_string(skipped) + ".");
        return;
    }
    reportPath_ = ReportPath ? ReportPath() : std::string();
    if (!reportPath_.empty()) {
        saving_ = true;
        ctl_.SpeedButton1Click();
        saving_ = false;
        if (saveFailed_) {
            End(boIncomplete, "Протокол не сохранен.");
            return;
        }
        if (OnSaved) OnSaved(reportPath_);
    }
    End(boComplete, "Поверка завершена.");
}

void TVerifyDriver::Release(const std::string& reason, std::function<void()> done)
{
    // A run still under way is stopped first, so the meter is not left emulating.
    ctl_.Interrupt(reason, [this, done = std::move(done)] {
        if (ctl_.View().SBOpenCloseDown) {
            ctl_.SetSBOpenCloseDown(false);
            ctl_.SBOpenCloseClick();
        }
        done();
    });
}

// --- The answers

void TVerifyDriver::Message(const std::string& text, const std::string& caption)
{
    Say(caption + ": " + text);
}

bool TVerifyDriver::Question(const std::string& text, const std::string& caption)
{
    Say(caption + " " + text + " - ответ: " + (drive_.AnswerYes ? "Да" : "Нет"));
    return drive_.AnswerYes;
}

TAnswer TVerifyDriver::QuestionCancel(const std::string& text, const std::string& caption)
{
    Say(caption + " " + text + " - ответ: Нет");
    return anNo;
}

std::string TVerifyDriver::LogChoices(const std::function<void(const std::string&)>& log, TSensorDialog dialog,
                                      const std::vector<SSensorChoice>& choices)
{
    log(SensorDialogCaption(dialog));
    std::string offered;
    for (const SSensorChoice& c : choices) {
        log("  " + std::to_string(c.Position) + ": " + c.Caption);
        offered += (offered.empty() ? "" : ", ") + std::to_string(c.Position);
    }
    return offered;
}

std::optional<int> TVerifyDriver::ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices)
{
    const std::string offered = LogChoices([this](const std::string& line) { Say(line); }, dialog, choices);
    if (choices.empty()) {
        End(boIncomplete, "Прибор не предлагает ни одного датчика для поверки.");
        return std::nullopt;
    }
    if (!drive_.Sensor) return choices.front().Position;
    for (const SSensorChoice& c : choices)
        if (c.Position == *drive_.Sensor) return c.Position;
    End(boUsage, "Датчик в позиции " + std::to_string(*drive_.Sensor) +
                     " не предлагается для поверки; предлагаются позиции " + offered + ".");
    return std::nullopt;
}

std::optional<std::string> TVerifyDriver::SaveFileName() const
{
    // Only the save of a complete protocol is answered; the report is not asked for at other times.
    if (!saving_ || reportPath_.empty()) return std::nullopt;
    return reportPath_;
}

void TVerifyDriver::ShowException(const std::exception& error)
{
    Say(std::string("Ошибка: ") + error.what());
    if (saving_) {
        saveFailed_ = true;
        return;
    }
    End(boIncomplete, error.what());
}

}  // namespace rv
