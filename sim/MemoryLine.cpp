// The in-memory line: a schedule of bytes on the wire in microseconds, a loop timer that takes in
// what has arrived, and the device link's packet cutting.
#include "sim/MemoryLine.h"

#include <algorithm>
#include <deque>
#include <queue>

#include "core/Loop.h"
#include "sim/MeterImage.h"

namespace rv::sim {

namespace {

// What the PC side holds that has arrived and not been cut, like a driver's input queue; beyond
// this, further bytes are lost (an overrun) and reported as discarded.
constexpr size_t kInputQueue = 4096;

uint32_t RateOf(TBaudRate rate, uint32_t current)
{
    static constexpr uint32_t kRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                          19200, 38400, 56000, 57600, 115200, 128000, 256000};
    const auto i = static_cast<size_t>(rate);
    return i < std::size(kRates) ? kRates[i] : current;
}

}  // namespace

struct MemoryLine::Impl {
    struct Byte {
        uint64_t dueUs;
        uint64_t seq;
        bool toMeter;  // else to the PC
        bool echo;
        uint8_t value;
        bool operator>(const Byte& o) const { return dueUs != o.dueUs ? dueUs > o.dueUs : seq > o.seq; }
    };

    Impl(MemoryLine& l, SimMeter& m, Loop& lp) : line(l), meter(m), loop(lp), timer(nullptr, &lp)
    {
        timer.OnTimer = [this](TObject*) { OnTick(); };
    }

    MemoryLine& line;
    SimMeter& meter;
    Loop& loop;
    TTimer timer;
    std::priority_queue<Byte, std::vector<Byte>, std::greater<>> wire;
    uint64_t seq = 0;
    uint64_t pcFreeUs = 0;     // the PC's transmitter is free from then on
    uint64_t meterFreeUs = 0;  // the meter's transmitter is free from then on
    std::deque<uint8_t> arrived;
    PacketCutter cutter;
    unsigned char raw[PacketCutter::kBufferSize];
    bool delivering = false;
    std::vector<Arrival> arrivals;

    uint64_t NowUs() const { return loop.NowMs() * 1000; }

    // End of byte k (from 0) of a block that starts going out at start.
    uint64_t ByteEnd(uint64_t start, size_t k) const
    {
        const uint32_t rate = line.bitRate_;
        return rate ? start + (uint64_t{k + 1} * 10'000'000ULL) / rate : start;
    }

    void Push(uint64_t due, bool toMeter, bool echo, uint8_t value) { wire.push({due, seq++, toMeter, echo, value}); }

    void Trace(TraceKind kind, const uint8_t* data, size_t size)
    {
        if (!line.trace_ || !*line.trace_ || size == 0) return;
        TraceRecord r;
        r.timeMs = loop.NowMs();
        r.kind = kind;
        r.data = data;
        r.size = size;
        (*line.trace_)(r);
    }

    void Send(const uint8_t* data, size_t count)
    {
        if (!line.open_) return;
        Advance(NowUs());
        Discard();
        const uint64_t start = std::max(NowUs(), pcFreeUs);
        for (size_t k = 0; k < count; ++k) {
            const uint64_t end = ByteEnd(start, k);
            Push(end, true, false, data[k]);
            if (line.echo_) Push(end, false, true, data[k]);
        }
        const uint64_t end = count ? ByteEnd(start, count - 1) : start;
        pcFreeUs = std::max(pcFreeUs, end);
        line.writes_.push_back({loop.NowMs(), std::vector<uint8_t>(data, data + count), start, end});
        Rearm();
    }

    // A new transmission restarts the packet count: the half packet and what arrived uncut go.
    void Discard()
    {
        std::vector<uint8_t> lost(cutter.Buffer(), cutter.Buffer() + cutter.Fill());
        lost.insert(lost.end(), arrived.begin(), arrived.end());
        cutter.Reset();
        arrived.clear();
        Trace(TraceKind::Discarded, lost.data(), lost.size());
    }

    // Moves everything due by nowUs off the wire: the meter takes its bytes (and may answer), the
    // PC's bytes wait in the input queue.
    void Advance(uint64_t nowUs)
    {
        std::vector<uint8_t> overrun;
        while (!wire.empty() && wire.top().dueUs <= nowUs) {
            const Byte b = wire.top();
            wire.pop();
            if (b.toMeter) {
                meter.Receive(&b.value, 1, [&](const std::vector<uint8_t>& answer, const FaultApplied& fault) {
                    if (answer.empty()) return;
                    const uint64_t ready = b.dueUs + line.turnaroundUs_ + uint64_t{fault.delayMs} * 1000;
                    const uint64_t start = std::max(ready, meterFreeUs);
                    for (size_t k = 0; k < answer.size(); ++k) Push(ByteEnd(start, k), false, false, answer[k]);
                    meterFreeUs = ByteEnd(start, answer.size() - 1);
                });
                continue;
            }
            arrivals.push_back({b.dueUs, loop.NowMs(), b.value, b.echo});
            if (arrived.size() < kInputQueue) arrived.push_back(b.value);
            else overrun.push_back(b.value);
        }
        Trace(TraceKind::Discarded, overrun.data(), overrun.size());
    }

    void OnTick()
    {
        timer.Stop();
        Advance(NowUs());
        Deliver();
        Rearm();
    }

    void Rearm()
    {
        if (wire.empty()) {
            timer.Stop();
            return;
        }
        const uint64_t nowMs = loop.NowMs();
        const uint64_t dueMs = (wire.top().dueUs + 999) / 1000;
        const uint64_t wait = dueMs > nowMs ? dueMs - nowMs : 1;
        timer.Stop();
        timer.SetInterval(static_cast<uint32_t>(std::min<uint64_t>(wait, UINT32_MAX)));
        timer.Start();
    }

    size_t Take(unsigned char* dst, size_t n)
    {
        const size_t k = std::min(n, arrived.size());
        std::copy_n(arrived.begin(), k, dst);
        arrived.erase(arrived.begin(), arrived.begin() + static_cast<std::ptrdiff_t>(k));
        return k;
    }

    // Hands the queued bytes to the receiver in the current receive type. A handler may change the
    // type, the packet length or start a new transmission; each applies to the bytes still queued.
    void Deliver()
    {
        if (delivering) return;
        delivering = true;
        for (int pass = 0; pass < 4 && !arrived.empty() && line.receiveTypeSet_; ++pass) {
            const TReceiveType type = line.receiveType_;
            switch (type) {
            case rtPacket:
                cutter.Feed(
                    arrived.size(), [this] { return line.lengthPacket_; },
                    [this](unsigned char* buf, int len) {
                        const TPacketEvent handler = line.onPacket_;  // the handler may replace itself
                        handler(buf, len);
                    },
                    [this](unsigned char* dst, size_t n) { return Take(dst, n); });
                break;
            case rtAll:
                // Without a handler the bytes stay queued, as they stay in a driver.
                while (!arrived.empty() && line.onAll_ && line.receiveType_ == rtAll) {
                    const size_t n = Take(raw, sizeof raw - 1);
                    raw[n] = 0;
                    const TAllReceiveEvent handler = line.onAll_;
                    handler(raw, static_cast<int>(n));
                }
                break;
            case rtChar:
            case rtShort:
            case rtLong:
            case rtFloat: {
                // Typed values have no receiver on this interface: whole elements are taken and dropped.
                const size_t size = type == rtChar ? 1 : type == rtShort ? 2 : 4;
                arrived.erase(arrived.begin(), arrived.begin() + static_cast<std::ptrdiff_t>(
                                                                    arrived.size() / size * size));
                break;
            }
            }
            if (line.receiveType_ == type) break;
        }
        delivering = false;
    }

    void Close()
    {
        wire = {};
        arrived.clear();
        cutter.Reset();
        meter.ResetInput();
        timer.Stop();
        pcFreeUs = meterFreeUs = 0;
    }
};

MemoryLine::MemoryLine(SimMeter& meter, Loop* loop)
    : impl_(std::make_unique<Impl>(*this, meter, loop ? *loop : Loop::Current()))
{
    echo_ = meter.Image().options.echo;
    turnaroundUs_ = meter.Image().options.turnaroundUs;
}

MemoryLine::~MemoryLine() = default;

void MemoryLine::SetBaudRate(TBaudRate rate)
{
    baud_ = rate;
    bitRate_ = RateOf(rate, bitRate_);
}

void MemoryLine::Transmit_Byte(unsigned char value) { impl_->Send(&value, 1); }

void MemoryLine::Transmit_Packed(const void* data, unsigned char count)
{
    impl_->Send(static_cast<const uint8_t*>(data), count);
}

void MemoryLine::ModemCommand(const std::string& text)
{
    SetReceiveType(rtAll);
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0x0D);
    // A modem command may be longer than one frame; it goes out in pieces the interface can carry.
    for (size_t at = 0; at < bytes.size(); at += 255)
        impl_->Send(bytes.data() + at, std::min<size_t>(255, bytes.size() - at));
}

void MemoryLine::SetReceiveType(TReceiveType type)
{
    receiveType_ = type;
    receiveTypeSet_ = true;
    if (type == rtPacket && lengthPacket_ < 1) lengthPacket_ = 1;
}

void MemoryLine::SetOpen(bool open)
{
    if (open && !open_) {
        openError_ = refuseOpen_;
        if (!refuseOpen_.empty()) return;
    }
    if (!open) dtr_ = rts_ = false;
    if (open == open_) return;
    open_ = open;
    if (!open) impl_->Close();
}

const std::vector<MemoryLine::Arrival>& MemoryLine::Arrivals() const { return impl_->arrivals; }

void MemoryLine::ClearLog()
{
    writes_.clear();
    impl_->arrivals.clear();
}

uint64_t MemoryLine::BusyUntilUs() const { return std::max(impl_->pcFreeUs, impl_->meterFreeUs); }

}  // namespace rv::sim
