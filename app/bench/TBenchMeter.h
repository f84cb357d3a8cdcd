// One meter of a bench: its own device link, its own main window's controller (with its own meter command set,
// timers and run), its own prompter that answers for this meter only from this meter's options, and its own journal
// record. It drives the controller as the headless runner drives one: connect, the run with the meter's options
// once the emulator check has passed, the protocol saved where asked, and the port let go at the end, whatever the
// other meters of the bench do.
//
// Threading: loop thread only. No exception leaves a handler; one that escapes ends this meter only.
#pragma once

#include "app/bench/BenchTypes.h"
#include "app/bench/TVerifyDriver.h"
#include "app/record/TRunRecorder.h"
#include "app/verify/TFMainController.h"
#include "app/window/IPrompter.h"
#include "core/Event.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rv {

class IDeviceLink;
class Loop;

class TBenchMeter : public IPrompter {
public:
    // The link is this meter's own; it lives as long as the meter. The loop outlives the meter.
    TBenchMeter(SBenchMeterOptions options, std::unique_ptr<IDeviceLink> link, Loop& loop);
    // Lets the port go (a run under way is abandoned without its switch-off: Stop first for that).
    ~TBenchMeter() override;
    TBenchMeter(const TBenchMeter&) = delete;
    TBenchMeter& operator=(const TBenchMeter&) = delete;

    // Each run of this meter gets its record in journal (which outlives the meter). Before Start. A complete run the
    // journal did not take ends incomplete: the laboratory's record of it is missing.
    void RecordInto(journal::TJournal& journal, const SRunRecordContext& context);
    // Asked once the protocol is complete: where to save it; empty for nowhere.
    std::function<std::string(const TBenchMeter& meter)> ReportPath;

    // Connects; the run then goes on in the loop. Once only.
    void Start();
    // Stops this meter for reason as "Стоп" would (a run under way switches its emulation off first); the meter
    // then ends with boStopped. Nothing when it has not started or has already ended.
    void Stop(const std::string& reason);

    const SBenchMeterOptions& Options() const { return options_; }
    bool Started() const { return started_; }
    // The outcome is known (the port may still be being let go).
    bool Finished() const { return driver_->Ended(); }
    // The port has been let go after the end: nothing of this meter runs any more.
    bool Released() const { return released_; }
    TBenchOutcome Outcome() const { return outcome_; }
    // Why the meter ended ("Поверка завершена.", the stop reason, ...); empty before.
    const std::string& Message() const { return message_; }
    // From Start to the end (to now while under way).
    uint64_t DurationMs() const;
    // The meter's serial number once it has answered ("21345"), else empty.
    std::string MeterSerial() const;
    // The size of the sensor verified once the header is out ("FS-25S"), else empty.
    std::string SensorSize() const;
    // What the meter is doing, for a bench's row: "ожидает", "соединение", "чтение прибора", "проверка имитатора",
    // "поверка", "остановка", "завершена", "прервана".
    std::string StateText() const;
    // The verdict of the run from its points as the journal judges them ("годен", "не годен", "не завершена: ..."):
    // empty while under way.
    std::string Verdict() const;
    // The course of this meter: connection, questions and answers, phases, messages, the end. The oldest lines go
    // once kLogLines are kept.
    const std::deque<SBenchLogLine>& Log() const { return log_; }
    static constexpr size_t kLogLines = 2000;
    // The journal's record of the last run (0 without a journal or before the first run).
    int64_t RecordId() const;

    TFMainController& Controller() { return *ctl_; }
    const TFMainController& Controller() const { return *ctl_; }

    // Every change of the controller's view state, after the meter has followed it.
    Event<void(TViewChange change)> OnChanged;
    // A line was added to Log().
    Event<void(const SBenchLogLine& line)> OnLog;
    // Started, stopping, finished or released: StateText() may read otherwise.
    Event<void()> OnState;
    // Raised once, from the loop, when the port has been let go after the end.
    Event<void()> OnReleased;

    // IPrompter: the meter's own answers.
    void Message(const std::string& text, const std::string& caption) override;
    bool Question(const std::string& text, const std::string& caption) override;
    // No: the bench keeps what the box could save (the protocol goes to its file once complete).
    TAnswer QuestionCancel(const std::string& text, const std::string& caption) override;
    std::optional<int> ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices) override;
    std::optional<std::string> SaveFileName(const SSaveDialog& dialog) override;
    void ShowException(const std::exception& error) override;

private:
    void ViewChanged(TViewChange change);
    // Records the outcome once; then, from the loop, the port is let go.
    void Finish(TBenchOutcome outcome, const std::string& message);
    void Release();
    void Log(const std::string& text);

    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    SBenchMeterOptions options_;
    Loop& loop_;
    std::unique_ptr<IDeviceLink> link_;
    // Made over the controller, but outlives it: the controller may still answer through it while it goes.
    std::unique_ptr<TVerifyDriver> driver_;
    std::unique_ptr<TFMainController> ctl_;
    std::unique_ptr<TRunRecorder> recorder_;
    std::deque<SBenchLogLine> log_;
    std::string lastStatus_;
    std::string message_;
    TBenchOutcome outcome_ = boIncomplete;
    uint64_t startedMs_ = 0;
    uint64_t endedMs_ = 0;
    bool started_ = false;
    bool released_ = false;
    bool recordFailed_ = false;  // the journal refused a write of this meter's run
};

}  // namespace rv
