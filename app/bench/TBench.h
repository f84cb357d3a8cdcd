// A bench of meters verified at once: a slot per meter with its options, each started slot running one TBenchMeter
// (its own link, controller, prompter and journal record) on the one loop thread, no thread per meter. The slots
// start together and are followed together; a meter that fails or is stopped ends alone. The protocols of the
// complete runs go to one folder, named after the meter's serial number and the sensor.
//
// Threading: loop thread only. Call nothing of a bench from inside its own events but what they name.
#pragma once

#include "app/bench/TBenchMeter.h"
#include "app/record/TRunRecorder.h"
#include "core/Event.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace rv {

class IDeviceLink;
class Loop;

class TBench {
public:
    // Makes the device link of a meter about to start (a serial port's link for a program, an in-memory line for a
    // test); the meter owns it.
    using TLinkMaker = std::function<std::unique_ptr<IDeviceLink>(const SBenchMeterOptions& options)>;

    TBench(Loop& loop, TLinkMaker makeLink);
    // Lets every port go (a run under way is abandoned without its switch-off: StopAll first for that).
    ~TBench();
    TBench(const TBench&) = delete;
    TBench& operator=(const TBench&) = delete;

    // --- Slots
    size_t Add(const SBenchMeterOptions& options);
    size_t Count() const { return slots_.size(); }
    const SBenchMeterOptions& Options(size_t index) const;
    // Only while the slot does not run; false otherwise.
    bool SetOptions(size_t index, const SBenchMeterOptions& options);
    bool Remove(size_t index);
    // The meter of the slot's last start (running or ended); null before its first start.
    TBenchMeter* Meter(size_t index);
    const TBenchMeter* Meter(size_t index) const;
    // Started and its port not yet let go.
    bool Running(size_t index) const;
    bool AnyRunning() const;

    // --- What every meter started from now on gets
    // A journal record per run (the journal outlives the bench); null for none.
    void SetJournal(journal::TJournal* journal, SRunRecordContext context);
    // The complete protocols are saved to this folder as SERIAL_SENSOR.TXT (code page 1251, CR LF), a second meter
    // with the same name getting SERIAL_SENSOR_2.TXT; empty for nowhere.
    void SetReportDir(const std::string& dir) { reportDir_ = dir; }
    // Each meter's controller as it is made (a trace hook, a test's look inside).
    std::function<void(size_t index, TBenchMeter& meter)> OnMeterMade;

    // --- Work
    // Starts every slot that does not run, each meter anew, all within this call; false when there was none.
    bool StartAll();
    // Starts the slot anew unless it runs.
    bool Start(size_t index);
    // Stops the slot's meter as "Стоп" would; the others go on.
    void Stop(size_t index, const std::string& reason);
    void StopAll(const std::string& reason);
    // The most serious outcome of the meters of the last start of every slot (boComplete when all completed).
    TBenchOutcome Outcome() const;

    // A slot's controller changed its view state (progress, phase, status, memo, ...).
    Event<void(size_t index, TViewChange change)> OnChanged;
    // A slot's meter started, is stopping, ended or let its port go.
    Event<void(size_t index)> OnState;
    Event<void(size_t index, const SBenchLogLine& line)> OnLog;
    // The last running meter has let its port go: nothing of the bench runs any more. StartAll may follow.
    Event<void()> OnAllReleased;

private:
    struct SSlot {
        SBenchMeterOptions Options;
        std::unique_ptr<TBenchMeter> Meter;
        std::string ReportName;  // the name this slot saved under last
    };
    size_t IndexOf(const SSlot* slot) const;
    // Retires the slot's last meter and starts a new one.
    void StartSlot(size_t index);
    std::string ReportPath(SSlot& slot, const TBenchMeter& meter);

    Loop& loop_;
    TLinkMaker makeLink_;
    std::vector<std::unique_ptr<SSlot>> slots_;
    // Meters replaced by a new start or removed with their slot; kept until the next start (which may be called
    // from the last meter's OnAllReleased), so that none is destroyed inside its own event.
    std::vector<std::unique_ptr<TBenchMeter>> retired_;
    journal::TJournal* journal_ = nullptr;
    SRunRecordContext context_;
    std::string reportDir_;
};

}  // namespace rv
