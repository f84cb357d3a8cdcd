// Requests and decoders work in the component's fixed buffers: no heap allocation, so the hot path
// of a read chain never touches the allocator. Counts every operator new of this test program.
#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "core/PacketCutter.h"
#include "core/TTimer.h"
#include "core/VirtualLoop.h"
#include "protocol/Frame.h"
#include "protocol/TRurIvaQs.h"

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t n)
{
    ++g_allocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace rv {
namespace {

// A link that keeps nothing but what the engine sets, so any allocation seen is the engine's.
class QuietLink : public IDeviceLink {
public:
    bool GetOpen() override { return false; }
    void SetBaudRate(TBaudRate) override {}
    TBaudRate GetBaudRate() override { return br4800; }
    void SetIrda(bool) override {}
    bool GetIrda() const override { return false; }
    void Transmit_Byte(unsigned char) override { cutter.Reset(); }
    void Transmit_Packed(const void*, unsigned char count) override
    {
        cutter.Reset();
        sent += count;
    }
    void ModemCommand(const std::string&) override {}
    void SetReceiveType(TReceiveType) override {}
    TReceiveType GetReceiveType() const override { return rtPacket; }
    int GetLengthPacket() const override { return length; }
    void SetLengthPacket(int l) override { length = l; }
    void SetOnReceivePacket(const TPacketEvent& h) override { onPacket = h; }
    void SetOnModemConnect(const TNotifyEvent&) override {}
    void SetOnModemDisconnect(const TNotifyEvent&) override {}
    void SetOnAllReceive(const TAllReceiveEvent&) override {}

    void Deliver(const uint8_t* data, size_t n)
    {
        size_t at = 0;
        cutter.Feed(
            n, [this] { return length; }, [this](unsigned char* b, int len) { onPacket(b, len); },
            [&](unsigned char* dst, size_t want) {
                for (size_t i = 0; i < want; ++i) dst[i] = data[at++];
                return want;
            });
    }

    PacketCutter cutter;
    TPacketEvent onPacket;
    int length = 0;
    size_t sent = 0;
};

TEST(NoAllocation, RequestsAndDecodersUseFixedBuffersOnly)
{
    VirtualLoop loop;
    QuietLink link;
    TRurIvaQs engine(nullptr, &loop);
    engine.SetDeviceComm(&link);
    engine.SetReceiving_back(true);
    engine.SetMasterNetAddress(0xF0);
    engine.SetSlaveNetAddress(0xC9);
    long delivered = 0;
    engine.OnReceiveExecuted = [&delivered](short len, unsigned char*) { delivered += len; };

    // What arming one timer of the loop costs: the loop's schedule, not the engine's doing.
    TTimer probe(nullptr, &loop);
    long before = g_allocations;
    probe.Start();
    const long perTimerStart = g_allocations - before;
    probe.Stop();

    uint8_t payload[250];
    for (int i = 0; i < 250; ++i) payload[i] = static_cast<uint8_t>(i);
    uint8_t answer[255];
    BuildAnswer(answer, 0xF0, payload, sizeof payload, 0);
    uint8_t echo[11] = {};

    for (int round = 0; round < 3; ++round) {
        before = g_allocations;
        engine.ReadFlashLarge(0x100, 250);  // builds, installs the decoder, starts the send timer
        EXPECT_LE(g_allocations - before, perTimerStart) << "request";

        loop.RunFor(200);
        echo[0] = 0xC9;
        before = g_allocations;
        link.Deliver(echo, sizeof echo);
        link.Deliver(answer, sizeof answer);  // head, body, checksum, event
        EXPECT_EQ(g_allocations - before, 0) << "decoding";
    }
    EXPECT_EQ(delivered, 3 * 250);
}

}  // namespace
}  // namespace rv
