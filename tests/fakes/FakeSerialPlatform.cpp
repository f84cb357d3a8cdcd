// The scripted serial platform and its devices.
#include "FakeSerialPlatform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace rv::test {

namespace {
thread_local int t_lastError = 0;

std::string EscapeName(uint32_t function)
{
    switch (function) {
        case escSetXoff: return "XOFF";
        case escSetXon: return "XON";
        case escSetRts: return "RTS on";
        case escClrRts: return "RTS off";
        case escSetDtr: return "DTR on";
        case escClrDtr: return "DTR off";
        case escSetBreak: return "break on";
        case escClrBreak: return "break off";
        default: return "escape " + std::to_string(function);
    }
}
}  // namespace

class FakeSerialDevice : public ISerialDevice {
public:
    FakeSerialDevice(FakeSerialPlatform& platform, FakePort& port) : pl_(platform), port_(port) {}
    ~FakeSerialDevice() override
    {
        auto lk = pl_.Lock();
        port_.open = false;
    }

    bool GetState(SDeviceControlBlock& dcb) override
    {
        auto lk = pl_.Lock();
        if (port_.stateUnreadable) return Fail(EIO);
        dcb = port_.dcb;
        dcb.Flags |= dcbFBinary;
        if (port_.takesRate) dcb.BaudRate = port_.takesRate;
        return true;
    }
    bool SetState(const SDeviceControlBlock& dcb) override
    {
        auto lk = pl_.Lock();
        if (port_.refuseState) return Fail(EINVAL);
        port_.applied.push_back(dcb);
        port_.dcb = dcb;
        pl_.Record(port_, "rate " + std::to_string(dcb.BaudRate));
        return true;
    }
    bool SetupQueues(uint32_t inSize, uint32_t outSize) override
    {
        auto lk = pl_.Lock();
        if (port_.refuseQueues) return Fail(EINVAL);
        port_.queueRequests.emplace_back(inSize, outSize);
        port_.rxQueue = inSize;
        port_.txQueue = outSize;
        return true;
    }
    bool SetTimeouts(const SCommTimeouts& timeouts) override
    {
        auto lk = pl_.Lock();
        port_.timeouts = timeouts;
        return true;
    }
    bool GetTimeouts(SCommTimeouts& timeouts) override
    {
        auto lk = pl_.Lock();
        timeouts = port_.timeouts;
        return true;
    }
    bool Purge(uint32_t flags) override
    {
        auto lk = pl_.Lock();
        port_.purges.push_back(flags);
        if (flags & purgeRxClear) port_.input.clear();
        if (flags & purgeTxClear) port_.outQueue = 0;
        return true;
    }
    bool ClearError(uint32_t& errors, SCommStat& stat) override
    {
        auto lk = pl_.Lock();
        pl_.DeliverDue(port_);
        errors = 0;
        stat.Flags = port_.statusFlags;
        stat.InQue = static_cast<uint32_t>(port_.input.size());
        stat.OutQue = port_.outQueue;
        return true;
    }
    bool GetProperties(SCommProp& prop) override
    {
        auto lk = pl_.Lock();
        prop.MaxBaud = port_.maxBaud;
        prop.CurrentRxQueue = port_.rxQueue;
        prop.CurrentTxQueue = port_.txQueue;
        return true;
    }
    bool Escape(uint32_t function) override
    {
        auto lk = pl_.Lock();
        port_.escapes.push_back(function);
        pl_.Record(port_, EscapeName(function));
        return true;
    }
    bool GetModemStatus(uint32_t& status) override
    {
        status = 0;
        return Fail(ENOTTY);
    }

    int64_t Read(void* buffer, uint32_t count) override
    {
        auto lk = pl_.Lock();
        if (port_.readError) {
            Fail(port_.readError);
            return -1;
        }
        pl_.DeliverDue(port_);
        const auto n = std::min<size_t>(count, port_.input.size());
        std::copy_n(port_.input.begin(), n, static_cast<uint8_t*>(buffer));
        port_.input.erase(port_.input.begin(), port_.input.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<int64_t>(n);
    }
    int64_t Write(const void* buffer, uint32_t count) override
    {
        auto lk = pl_.Lock();
        if (port_.writeError) {
            Fail(port_.writeError);
            return -1;
        }
        port_.writeCalls.push_back(count);
        uint32_t n = port_.writeAccept < 0 ? count : std::min<uint32_t>(count, static_cast<uint32_t>(port_.writeAccept));
        if (port_.writeBudget >= 0) {
            n = std::min<uint32_t>(n, static_cast<uint32_t>(port_.writeBudget));
            port_.writeBudget -= n;
        }
        const auto* p = static_cast<const uint8_t*>(buffer);
        port_.written.insert(port_.written.end(), p, p + n);
        std::string what = "write";
        for (uint32_t i = 0; i < n; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", p[i]);
            what += hex;
        }
        pl_.Record(port_, std::move(what));
        return n;
    }
    TWaitResult WaitReadable(uint32_t ms) override
    {
        if (pl_.OnWait) pl_.OnWait();
        auto lk = pl_.Lock();
        if (cancelled_) return TWaitResult::Cancelled;
        if (port_.failed) return Failed();
        pl_.DeliverDue(port_);
        if (!port_.input.empty()) return TWaitResult::Ready;
        const uint32_t now = pl_.now_;
        auto next = port_.arrivals.begin();
        if (next != port_.arrivals.end() && next->first - now <= ms) {
            pl_.now_ = std::max(now, next->first);
            pl_.DeliverDue(port_);
            return TWaitResult::Ready;
        }
        pl_.now_ += ms;
        return TWaitResult::TimedOut;
    }
    TWaitResult WaitWritable(uint32_t ms) override
    {
        if (pl_.OnWait) pl_.OnWait();
        auto lk = pl_.Lock();
        if (cancelled_) return TWaitResult::Cancelled;
        if (port_.failed) return Failed();
        if (port_.writeAccept != 0 && port_.writeBudget != 0) return TWaitResult::Ready;
        pl_.now_ += ms;
        return TWaitResult::TimedOut;
    }
    TWaitResult Pause(uint32_t ms) override
    {
        if (pl_.OnWait) pl_.OnWait();
        auto lk = pl_.Lock();
        if (cancelled_) return TWaitResult::Cancelled;
        if (port_.failed) return Failed();
        pl_.now_ += ms;
        return TWaitResult::TimedOut;
    }

    bool SetEventMask(uint32_t mask) override
    {
        auto lk = pl_.Lock();
        port_.eventMask = mask;
        return true;
    }
    TWaitResult WaitEvent(uint32_t& events) override
    {
        auto lk = pl_.Lock();
        for (;;) {
            pl_.eventCv_.wait(lk, [&] { return cancelled_ || port_.failed || !port_.events.empty(); });
            if (cancelled_) return TWaitResult::Cancelled;
            if (port_.failed) return Failed();
            events = port_.events.front() & port_.eventMask;
            port_.events.pop_front();
            pl_.DeliverDue(port_);
            if (port_.threshold > 1 && port_.input.size() < port_.threshold) events &= ~evRxChar;
            if (events) return TWaitResult::Ready;
        }
    }
    void Cancel() override
    {
        auto lk = pl_.Lock();
        cancelled_ = true;
        pl_.eventCv_.notify_all();
    }
    bool SetReceiveThreshold(uint32_t bytes) override
    {
        auto lk = pl_.Lock();
        port_.threshold = std::clamp<uint32_t>(bytes, 1, 255);
        port_.thresholds.push_back(port_.threshold);
        // A terminal looks at its queue again when its settings change.
        if (!port_.input.empty() && port_.input.size() >= port_.threshold) {
            port_.events.push_back(evRxChar);
            pl_.eventCv_.notify_all();
        }
        return true;
    }

private:
    static bool Fail(int e)
    {
        t_lastError = e;
        return false;
    }
    static TWaitResult Failed()
    {
        t_lastError = EIO;
        return TWaitResult::Failed;
    }

    FakeSerialPlatform& pl_;
    FakePort& port_;
    bool cancelled_ = false;
};

FakePort& FakeSerialPlatform::AddPort(const std::string& name)
{
    auto lk = Lock();
    auto& p = ports_[name];
    if (!p) p = std::make_unique<FakePort>();
    return *p;
}

FakePort& FakeSerialPlatform::Port(const std::string& name) { return *ports_.at(name); }

void FakeSerialPlatform::Feed(const std::string& name, const std::string& bytes)
{
    auto lk = Lock();
    auto& in = ports_.at(name)->input;
    in.insert(in.end(), bytes.begin(), bytes.end());
}

void FakeSerialPlatform::FeedAt(const std::string& name, uint32_t tick, const std::string& bytes)
{
    auto lk = Lock();
    ports_.at(name)->arrivals.emplace(tick, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void FakeSerialPlatform::PushEvent(const std::string& name, uint32_t events)
{
    auto lk = Lock();
    ports_.at(name)->events.push_back(events);
    eventCv_.notify_all();
}

void FakeSerialPlatform::FailDevice(const std::string& name)
{
    auto lk = Lock();
    ports_.at(name)->failed = true;
    eventCv_.notify_all();
}

void FakeSerialPlatform::Record(FakePort& port, std::string what)
{
    port.calls.emplace_back(CallClock ? CallClock() : now_.load(), std::move(what));
}

void FakeSerialPlatform::DeliverDue(FakePort& port)
{
    const uint32_t now = now_;
    while (!port.arrivals.empty() && port.arrivals.begin()->first <= now) {
        const auto& bytes = port.arrivals.begin()->second;
        port.input.insert(port.input.end(), bytes.begin(), bytes.end());
        port.arrivals.erase(port.arrivals.begin());
    }
}

std::unique_ptr<ISerialDevice> FakeSerialPlatform::Open(const std::string& name)
{
    auto lk = Lock();
    auto it = ports_.find(name);
    if (it == ports_.end()) {
        t_lastError = ENOENT;
        return nullptr;
    }
    if (it->second->open || it->second->openError) {
        t_lastError = it->second->open ? EBUSY : it->second->openError;
        return nullptr;
    }
    it->second->open = true;
    ++it->second->opens;
    return std::make_unique<FakeSerialDevice>(*this, *it->second);
}

int FakeSerialPlatform::LastError() { return t_lastError; }

std::string FakeSerialPlatform::ErrorText(int error) { return std::strerror(error); }

std::vector<std::string> FakeSerialPlatform::ListPorts()
{
    auto lk = Lock();
    std::vector<std::string> names;
    for (const auto& [name, port] : ports_) names.push_back(name);
    return names;
}

}  // namespace rv::test
