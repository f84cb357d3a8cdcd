// A bench of meters verified at once.
#include "app/bench/TBench.h"

#include "core/IDeviceLink.h"
#include "core/Loop.h"

#include <stdexcept>

namespace rv {

namespace {

int Severity(TBenchOutcome outcome)
{
    switch (outcome) {
        case boComplete:
            return 0;
        case boStopped:
            return 1;
        case boIncomplete:
            return 2;
        case boLineLost:
            return 3;
        case boPort:
            return 4;
        case boUsage:
            return 5;
    }
    return 2;
}

}  // namespace

TBenchOutcome MoreSerious(TBenchOutcome a, TBenchOutcome b)
{
    return Severity(b) > Severity(a) ? b : a;
}

TBench::TBench(Loop& loop, TLinkMaker makeLink) : loop_(loop), makeLink_(std::move(makeLink)) {}

TBench::~TBench()
{
    // The meters go before the slots' handlers they call into.
    for (auto& slot : slots_) slot->Meter.reset();
    retired_.clear();
}

size_t TBench::Add(const SBenchMeterOptions& options)
{
    slots_.push_back(std::make_unique<SSlot>());
    slots_.back()->Options = options;
    return slots_.size() - 1;
}

const SBenchMeterOptions& TBench::Options(size_t index) const
{
    return slots_.at(index)->Options;
}

bool TBench::SetOptions(size_t index, const SBenchMeterOptions& options)
{
    if (Running(index)) return false;
    slots_.at(index)->Options = options;
    return true;
}

bool TBench::Remove(size_t index)
{
    if (Running(index)) return false;
    std::unique_ptr<SSlot>& slot = slots_.at(index);
    if (slot->Meter) {
        slot->Meter->OnChanged = nullptr;
        slot->Meter->OnLog = nullptr;
        slot->Meter->OnState = nullptr;
        slot->Meter->OnReleased = nullptr;
        retired_.push_back(std::move(slot->Meter));
    }
    slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

TBenchMeter* TBench::Meter(size_t index)
{
    return slots_.at(index)->Meter.get();
}

const TBenchMeter* TBench::Meter(size_t index) const
{
    return slots_.at(index)->Meter.get();
}

bool TBench::Running(size_t index) const
{
    const TBenchMeter* m = slots_.at(index)->Meter.get();
    return m && m->Started() && !m->Released();
}

bool TBench::AnyRunning() const
{
    for (size_t i = 0; i < slots_.size(); ++i)
        if (Running(i)) return true;
    return false;
}

void TBench::SetJournal(journal::TJournal* journal, SRunRecordContext context)
{
    journal_ = journal;
    context_ = std::move(context);
}

size_t TBench::IndexOf(const SSlot* slot) const
{
    for (size_t i = 0; i < slots_.size(); ++i)
        if (slots_[i].get() == slot) return i;
    throw std::logic_error("TBench: a meter of a slot that is gone");
}

std::string TBench::ReportPath(SSlot& slot, const TBenchMeter& meter)
{
    if (reportDir_.empty()) return {};
    const std::string base = meter.MeterSerial() + "_" + meter.SensorSize();
    // Two meters of one bench never share a file: the second of a name gets a number (the same slot verifying the
    // same meter again keeps its own).
    for (int n = 1;; ++n) {
        const std::string name = base + (n == 1 ? "" : "_" + std::to_string(n)) + ".TXT";
        bool taken = false;
        for (const auto& other : slots_)
            if (other.get() != &slot && other->ReportName == name) taken = true;
        if (taken) continue;
        slot.ReportName = name;
        return reportDir_ + (reportDir_.back() == '/' ? "" : "/") + name;
    }
}

bool TBench::Start(size_t index)
{
    if (Running(index)) return false;
    retired_.clear();
    StartSlot(index);
    return true;
}

void TBench::StartSlot(size_t index)
{
    SSlot* slot = slots_.at(index).get();
    if (slot->Meter) retired_.push_back(std::move(slot->Meter));
    slot->Meter = std::make_unique<TBenchMeter>(slot->Options, makeLink_(slot->Options), loop_);
    TBenchMeter& meter = *slot->Meter;
    meter.OnChanged = [this, slot](TViewChange change) { OnChanged(IndexOf(slot), change); };
    meter.OnLog = [this, slot](const SBenchLogLine& line) { OnLog(IndexOf(slot), line); };
    meter.OnState = [this, slot] { OnState(IndexOf(slot)); };
    meter.OnReleased = [this] {
        if (!AnyRunning()) OnAllReleased();
    };
    meter.ReportPath = [this, slot](const TBenchMeter& m) { return ReportPath(*slot, m); };
    if (journal_) meter.RecordInto(*journal_, context_);
    if (OnMeterMade) OnMeterMade(index, meter);
    meter.Start();
}

bool TBench::StartAll()
{
    retired_.clear();
    bool any = false;
    for (size_t i = 0; i < slots_.size(); ++i) {
        if (Running(i)) continue;
        StartSlot(i);
        any = true;
    }
    return any;
}

void TBench::Stop(size_t index, const std::string& reason)
{
    if (TBenchMeter* m = slots_.at(index)->Meter.get()) m->Stop(reason);
}

void TBench::StopAll(const std::string& reason)
{
    for (size_t i = 0; i < slots_.size(); ++i) Stop(i, reason);
}

TBenchOutcome TBench::Outcome() const
{
    TBenchOutcome outcome = boComplete;
    for (const auto& slot : slots_) {
        if (!slot->Meter || !slot->Meter->Started()) continue;
        outcome = MoreSerious(outcome, slot->Meter->Finished() ? slot->Meter->Outcome() : boStopped);
    }
    return outcome;
}

}  // namespace rv
