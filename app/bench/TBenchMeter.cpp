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
    // The window would end the program on closing; on a bench only this meter ends.
    driver_ =
        std::make_unique<TVerifyDriver>(*ctl_, loop, SVerifyDrive::Of(options_, "Поверка завершена без протокола."));
    driver_->Log = [this](const std::string& text) { Log(text); };
    driver_->OnEnd = [this](TBenchOutcome outcome, const std::string& message) { Finish(outcome, message); };
    driver_->ReportPath = [this] { return ReportPath ? ReportPath(*this) : std::string(); };
    driver_->OnStopping = [this] { OnState(); };
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
    driver_->Connect(options_.Port);
}

void TBenchMeter::Stop(const std::string& reason)
{
    if (started_) driver_->Stop(reason);
}

void TBenchMeter::ViewChanged(TViewChange change)
{
    if (!Finished()) {
        const SMainView& view = ctl_->View();
        // The course of a run shows in its phases and its progress, not line by line.
        if (change == vcStatus && !view.LStatusIsProgress) {
            if (view.LStatusCaption != lastStatus_) Log(view.LStatusCaption);
            lastStatus_ = view.LStatusCaption;
        }
        driver_->Follow(change);
        if (change == vcStage) OnState();
    }
    OnChanged(change);
}

void TBenchMeter::Finish(TBenchOutcome outcome, const std::string& message)
{
    // A complete protocol the journal did not take is no complete run: the laboratory's record of it is missing.
    const bool unrecorded = outcome == boComplete && recordFailed_;
    outcome_ = unrecorded ? boIncomplete : outcome;
    message_ = unrecorded ? "Поверка не записана в журнал." : message;
    endedMs_ = loop_.NowMs();
    // The end is said once: the status line may have said it just before.
    bool said = false;
    for (size_t i = log_.size(), n = 0; i > 0 && n < 3; --i, ++n) said = said || log_[i - 1].Text == message_;
    if (!said) Log(message_);
    OnState();
    loop_.Post([this, alive = std::weak_ptr<int>(alive_)] {
        if (alive.lock()) Release();
    });
}

void TBenchMeter::Release()
{
    driver_->Release("работа с прибором завершена", [this] {
        released_ = true;
        OnState();
        OnReleased();
    });
}

// --- What a bench's row shows

uint64_t TBenchMeter::DurationMs() const
{
    if (!started_) return 0;
    return (Finished() ? endedMs_ : loop_.NowMs()) - startedMs_;
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
    if (Finished()) return outcome_ == boComplete ? "завершена" : "прервана";
    if (driver_->Stopping()) return "остановка";
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
    if (!Finished()) return {};
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
    driver_->Message(text, caption);
}

bool TBenchMeter::Question(const std::string& text, const std::string& caption)
{
    return driver_->Question(text, caption);
}

TAnswer TBenchMeter::QuestionCancel(const std::string& text, const std::string& caption)
{
    return driver_->QuestionCancel(text, caption);
}

std::optional<int> TBenchMeter::ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices)
{
    return driver_->ChooseSensor(dialog, choices);
}

std::optional<std::string> TBenchMeter::SaveFileName(const SSaveDialog&)
{
    return driver_->SaveFileName();
}

void TBenchMeter::ShowException(const std::exception& error)
{
    driver_->ShowException(error);
}

}  // namespace rv
