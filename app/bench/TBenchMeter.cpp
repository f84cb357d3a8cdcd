// One meter of a bench: the controller driven from connect to the end, the meter's own answers, its course.
#include "app/bench/TBenchMeter.h"

#include "app/window/MeterImages.h"
#include "core/IDeviceLink.h"
#include "core/Loop.h"
#include "journal/Verdict.h"

namespace rv {

TBenchMeter::TBenchMeter(SBenchMeterOptions options, std::unique_ptr<IDeviceLink> link, Loop& loop)
    : options_(std::move(options)),
      loop_(loop),
      link_(std::move(link)),
      ctl_(std::make_unique<TFMainController>(*link_, *this, &loop))
{
    ctl_->OnViewChanged = Bind(this, &TBenchMeter::ViewChanged);
}

TBenchMeter::~TBenchMeter()
{
    recorder_.reset();
    ctl_->OnViewChanged = nullptr;
}

void TBenchMeter::RecordInto(journal::TJournal& journal, const SRunRecordContext& context)
{
    recorder_ = std::make_unique<TRunRecorder>(*ctl_, journal, context);
    recorder_->OnError = [this](const std::string& message) {
        recordFailed_ = true;
        Log(message);
    };
    recorder_->OnRecorded = [this](int64_t id) { Log("Поверка записана в журнал, протокол № " + std::to_string(id)); };
}

int64_t TBenchMeter::RecordId() const
{
    return recorder_ ? recorder_->RecordId() : 0;
}

void TBenchMeter::Later(std::function<void()> fn)
{
    loop_.Post([alive = std::weak_ptr<int>(alive_), fn = std::move(fn)] {
        if (alive.lock()) fn();
    });
}

void TBenchMeter::Log(const std::string& text)
{
    std::string line = text;
    for (char& c : line)
        if (c == '\n') c = ' ';
    log_.push_back({loop_.NowMs(), std::move(line)});
    if (log_.size() > kLogLines) log_.pop_front();
    OnLog(log_.back());
}

// --- Course

void TBenchMeter::Start()
{
    if (started_) return;
    started_ = true;
    startedMs_ = loop_.NowMs();
    OnState();
    ctl_->SetChBDopInfoChecked(options_.ExtraInfo);
    ctl_->SetCBPortNameText(options_.Port);
    ctl_->SetSBOpenCloseDown(true);
    Log("Соединение с прибором через " + options_.Port);
    ctl_->SBOpenCloseClick();
}

void TBenchMeter::Stop(const std::string& reason)
{
    if (!started_ || finished_ || stopping_) return;
    stopping_ = true;
    Log("Остановка: " + reason);
    OnState();
    // A run under way ends with its interruption line once its emulation is off; anything else ends here.
    ctl_->Interrupt(reason, [this, reason] { Finish(boStopped, "Поверка прервана: " + reason + "."); });
}

void TBenchMeter::ViewChanged(TViewChange change)
{
    if (!finished_) Follow(change);
    OnChanged(change);
}

void TBenchMeter::Follow(TViewChange change)
{
    const SMainView& view = ctl_->View();
    switch (change) {
        case vcStatus:
            // The course of a run shows in its phases and its progress, not line by line.
            if (!view.LStatusIsProgress && view.LStatusCaption != lastStatus_) Log(view.LStatusCaption);
            if (!view.LStatusIsProgress) lastStatus_ = view.LStatusCaption;
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
                    Later([this] {
                        if (finished_ || stopping_) return;
                        Log("Поверка" + std::string(options_.Reverse ? " с потоком в обратном направлении" : ""));
                        ctl_->SetChB_backChecked(options_.Reverse);
                        ctl_->Button1Click();
                    });
                    break;
                case msDone:
                    Later([this] { Done(); });
                    break;
                case msStopped:
                    // The connect button comes up when the port would not open, or was lost once open; a meter
                    // that stopped answering is a line lost too.
                    if (stopping_)
                        Finish(boStopped, view.LStatusCaption);
                    else if (ctl_->MeterSilent())
                        Finish(boLineLost, ctl_->StopReason());
                    else
                        Finish(view.SBOpenCloseDown ? boIncomplete : opened_ ? boLineLost : boPort,
                               ctl_->StopReason());
                    break;
                case msClosing:
                    // The window would end the program here; on a bench only this meter ends.
                    Finish(boIncomplete, ctl_->StopReason().empty() ? "Поверка завершена без протокола."
                                                                    : ctl_->StopReason());
                    break;
                default:
                    break;
            }
            OnState();
            break;
        default:
            break;
    }
}

void TBenchMeter::Done()
{
    if (finished_) return;
    if (const int skipped = ctl_->SkippedPoints(); skipped > 0) {
        Finish(boIncomplete, "Протокол неполон: не проверено точек - " + std::to_string(skipped) + ".");
        return;
    }
    reportPath_ = ReportPath ? ReportPath(*this) : std::string();
    if (!reportPath_.empty()) {
        saving_ = true;
        ctl_->SpeedButton1Click();
        saving_ = false;
        // The status line has said where it went.
        if (saveFailed_) {
            Finish(boIncomplete, "Протокол не сохранен.");
            return;
        }
    }
    if (recordFailed_) {
        Finish(boIncomplete, "Поверка не записана в журнал.");
        return;
    }
    Finish(boComplete, "Поверка завершена.");
}

void TBenchMeter::Finish(TBenchOutcome outcome, const std::string& message)
{
    if (finished_) return;
    finished_ = true;
    outcome_ = outcome;
    message_ = message;
    endedMs_ = loop_.NowMs();
    // The end is said once: the status line may have said it just before.
    bool said = false;
    for (size_t i = log_.size(), n = 0; i > 0 && n < 3; --i, ++n) said = said || log_[i - 1].Text == message;
    if (!said) Log(message);
    OnState();
    Later([this] { Release(); });
}

void TBenchMeter::Release()
{
    // A run still under way is stopped first, so the meter is not left emulating.
    ctl_->Interrupt("работа с прибором завершена", [this] {
        if (ctl_->View().SBOpenCloseDown) {
            ctl_->SetSBOpenCloseDown(false);
            ctl_->SBOpenCloseClick();
        }
        released_ = true;
        OnState();
        OnReleased();
    });
}

// --- What a bench's row shows

uint64_t TBenchMeter::DurationMs() const
{
    if (!started_) return 0;
    return (finished_ ? endedMs_ : loop_.NowMs()) - startedMs_;
}

std::string TBenchMeter::MeterSerial() const
{
    // Zero until the identity answer has come.
    const uint32_t serial = ctl_->Fields().MeterSerial;
    return serial == 0 ? std::string() : std::to_string(serial);
}

std::string TBenchMeter::SensorSize() const
{
    // The header is out once the emulator check has begun.
    if (ctl_->View().Memo1Lines.empty()) return {};
    const SMainFields f = ctl_->Fields();
    return rv::SensorSize(SSensorRecord::Decode(ctl_->SensorImage()[static_cast<size_t>(f.SelectedSensor)]),
                          f.PathsPerSensor);
}

std::string TBenchMeter::StateText() const
{
    if (!started_) return "ожидает";
    if (finished_) return outcome_ == boComplete ? "завершена" : "прервана";
    if (stopping_) return "остановка";
    switch (ctl_->Stage()) {
        case msIdle:
        case msIdentifying:
            return "соединение";
        case msReading:
        case msChoosing:
            return "чтение прибора";
        case msEmulatorCheck:
        case msReady:
            return "проверка имитатора";
        default:
            return "поверка";
    }
}

std::string TBenchMeter::Verdict() const
{
    if (!finished_) return {};
    // The points as the journal records them; the end as this meter saw it (a protocol not saved is no pass).
    const journal::SVerificationRecord record = TRunRecorder::Snapshot(*ctl_, {});
    const journal::SVerdict verdict =
        journal::JudgeRun(record.Points, outcome_ == boComplete, options_.Reverse, message_);
    const std::string state = journal::StateText(verdict.State);
    return verdict.Outcome.empty() ? state : state + ": " + verdict.Outcome;
}

// --- The meter's own answers

void TBenchMeter::Message(const std::string& text, const std::string& caption)
{
    Log(caption + ": " + text);
}

bool TBenchMeter::Question(const std::string& text, const std::string& caption)
{
    Log(caption + " " + text + " - ответ: " + (options_.AnswerYes ? "Да" : "Нет"));
    return options_.AnswerYes;
}

TAnswer TBenchMeter::QuestionCancel(const std::string& text, const std::string& caption)
{
    Log(caption + " " + text + " - ответ: Нет");
    return anNo;
}

std::optional<int> TBenchMeter::ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices)
{
    Log(SensorDialogCaption(dialog));
    std::string offered;
    for (const SSensorChoice& c : choices) {
        Log("  " + std::to_string(c.Position) + ": " + c.Caption);
        offered += (offered.empty() ? "" : ", ") + std::to_string(c.Position);
    }
    if (choices.empty()) {
        Finish(boIncomplete, "Прибор не предлагает ни одного датчика для поверки.");
        return std::nullopt;
    }
    if (!options_.Sensor) return choices.front().Position;
    for (const SSensorChoice& c : choices)
        if (c.Position == *options_.Sensor) return c.Position;
    Finish(boUsage, "Датчик в позиции " + std::to_string(*options_.Sensor) +
                        " не предлагается для поверки; предлагаются позиции " + offered + ".");
    return std::nullopt;
}

std::optional<std::string> TBenchMeter::SaveFileName(const SSaveDialog&)
{
    if (!saving_ || reportPath_.empty()) return std::nullopt;
    return reportPath_;
}

void TBenchMeter::ShowException(const std::exception& error)
{
    Log(std::string("Ошибка: ") + error.what());
    if (saving_) {
        saveFailed_ = true;
        return;
    }
    Finish(boIncomplete, error.what());
}

}  // namespace rv
