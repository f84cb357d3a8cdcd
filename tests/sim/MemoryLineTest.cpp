// The in-memory line in virtual time: pacing, echo, packet cutting and what a new transmission discards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/PosixLoop.h"
#include "core/VirtualLoop.h"
#include "sim/MemoryLine.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"

using namespace rv;
using namespace rv::sim;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kFlashRead{0xC9, 0x04, 0x30, 0x34, 0x12, 0x64, 0xF0, 0x97, 0x02};

struct Packet {
    uint64_t ms;
    Bytes bytes;
};

struct Rig {
    VirtualLoop loop;
    SimMeter meter{DefaultMeter()};
    MemoryLine line{meter, &loop};
    std::vector<Packet> packets;
    std::function<void(const Bytes&)> after;

    Rig()
    {
        line.SetOnReceivePacket(TPacketEvent([this](unsigned char* d, int n) {
            packets.push_back({loop.NowMs(), Bytes(d, d + n)});
            if (after) after(packets.back().bytes);
        }));
    }
    void Expect(int length)
    {
        line.SetLengthPacket(length);
        line.SetReceiveType(rtPacket);
    }
    void Send(const Bytes& b) { line.Transmit_Packed(b.data(), static_cast<unsigned char>(b.size())); }
};

}  // namespace

TEST(MemoryLine, PacesEchoAndAnswerAtTenBitTimesPerByte)
{
    Rig r;
    r.line.SetBaudRate(br4800);
    EXPECT_EQ(r.line.BitRate(), 4800u);
    r.Expect(9);
    r.after = [&](const Bytes& p) {
        if (r.packets.size() == 1) r.line.SetLengthPacket(2);                    // echo taken: head next
        else if (r.packets.size() == 2) r.line.SetLengthPacket(p[1] + 3);  // head taken: body next
    };
    r.Send(kFlashRead);
    r.loop.RunFor(1000);

    ASSERT_EQ(r.packets.size(), 3u);
    EXPECT_EQ(r.packets[0].bytes, kFlashRead);
    EXPECT_EQ(r.packets[1].bytes, (Bytes{0xF0, 0x64}));
    EXPECT_EQ(r.packets[2].bytes.size(), 103u);

    // The echo's last byte is complete after 9 byte times (18.75 ms) and taken in on the next millisecond.
    const auto& a = r.line.Arrivals();
    ASSERT_EQ(a.size(), 9u + 105u);
    EXPECT_TRUE(a[8].echo);
    EXPECT_EQ(a[8].dueUs, 18750u);
    EXPECT_EQ(r.packets[0].ms, 19u);
    // The answer follows the request at once, one byte every 10 bit times: (105 + 9) x 10 / 4800 s.
    EXPECT_FALSE(a[9].echo);
    EXPECT_EQ(a.back().dueUs, 237500u);
    EXPECT_EQ(r.packets[2].ms, 238u);
    EXPECT_EQ(r.line.BusyUntilUs(), 237500u);
    ASSERT_EQ(r.line.Writes().size(), 1u);
    EXPECT_EQ(r.line.Writes()[0].timeMs, 0u);
    EXPECT_EQ(r.line.Writes()[0].endUs, 18750u);
}

TEST(MemoryLine, TurnaroundLateAnswersAndNoEcho)
{
    Rig r;
    r.line.SetBaudRate(br115200);
    r.line.SetEcho(false);
    r.line.SetTurnaroundUs(3000);
    r.meter.Faults().late = 1;
    r.meter.Faults().lateMs = 40;
    r.Expect(19);
    const Bytes id{0xC9, 0x01, 0x0F, 0xF0, 0xC9, 0x01};
    r.Send(id);
    r.loop.RunFor(200);
    ASSERT_EQ(r.packets.size(), 1u);
    EXPECT_EQ(r.packets[0].bytes[0], 0xF0);
    // 6 request bytes, 3 ms turnaround, 40 ms late, 19 answer bytes at 86.8 us each.
    EXPECT_EQ(r.line.Arrivals().front().dueUs, 6 * 10'000'000ULL / 115200 + 3000 + 40000 + 10'000'000ULL / 115200);
    EXPECT_EQ(r.line.Arrivals().size(), 19u);
}

TEST(MemoryLine, LengthChangedInsideTheHandlerGovernsTheQueuedBytes)
{
    Rig r;
    r.line.SetBitRate(0);  // everything arrives on the next tick, in one piece
    r.Expect(9);
    r.after = [&](const Bytes&) {
        if (r.packets.size() == 1) r.line.SetLengthPacket(2);
    };
    r.Send(kFlashRead);
    r.loop.RunFor(5);
    // Echo of 9, then the 105 answer bytes as 2-byte packets (52 of them), one byte left over.
    ASSERT_EQ(r.packets.size(), 1u + 52u);
    for (size_t i = 1; i < r.packets.size(); ++i) {
        EXPECT_EQ(r.packets[i].bytes.size(), 2u);
        EXPECT_EQ(r.packets[i].ms, r.packets[0].ms);
    }
    EXPECT_EQ(r.packets[1].bytes, (Bytes{0xF0, 0x64}));
}

TEST(MemoryLine, NewTransmissionDiscardsWhatWasNotCutAndKeepsWhatIsOnTheWire)
{
    Rig r;
    r.line.SetBaudRate(br9600);
    std::vector<Bytes> lost;
    const TraceHook hook = [&](const TraceRecord& t) {
        if (t.kind == TraceKind::Discarded) lost.emplace_back(t.data, t.data + t.size);
    };
    r.line.SetTraceHook(&hook);
    const Bytes id{0xC9, 0x01, 0x0F, 0xF0, 0xC9, 0x01};
    Bytes answer;
    SimMeter(DefaultMeter()).Receive(id.data(), id.size(), [&](const Bytes& a, const FaultApplied&) { answer = a; });
    ASSERT_EQ(answer.size(), 19u);

    // The wake-up echo arrives during the blocking pause and goes when the frame is sent.
    r.Expect(1);
    r.line.Transmit_Byte(0x00);
    r.loop.Sleep(100);
    r.Expect(100);
    r.Send(id);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0], Bytes{0x00});
    EXPECT_TRUE(r.packets.empty());

    // At 9600 baud the echo is in by 106.25 ms and answer byte k by 106.25 + (k + 1) x 1.0417 ms.
    // At 110 ms the echo and 3 answer bytes wait in the cutter; by 115 ms 5 more have arrived uncut.
    r.loop.RunFor(10);
    r.loop.Sleep(5);
    r.Expect(12);
    r.Send({0x00});
    ASSERT_EQ(lost.size(), 2u);
    Bytes expectLost = id;
    expectLost.insert(expectLost.end(), answer.begin(), answer.begin() + 8);
    EXPECT_EQ(lost[1], expectLost);

    // The rest of the answer was still on the wire and arrives, with the new echo (116.04 ms)
    // between answer bytes 8 (115.63 ms) and 9 (116.67 ms).
    r.loop.RunFor(100);
    ASSERT_EQ(r.packets.size(), 1u);
    Bytes expect{answer[8], 0x00};
    expect.insert(expect.end(), answer.begin() + 9, answer.end());
    EXPECT_EQ(r.packets[0].bytes, expect);
    EXPECT_EQ(r.packets[0].ms, 127u);
    ASSERT_EQ(r.line.Writes().size(), 3u);
    EXPECT_EQ(r.line.Writes()[1].timeMs, 100u);
    EXPECT_EQ(r.line.Writes()[1].bytes, id);
    EXPECT_EQ(r.line.Writes()[2].timeMs, 115u);
}

TEST(MemoryLine, RawReceiveEndsWithAZeroAndWaitsForAHandler)
{
    Rig r;
    r.line.SetBitRate(0);
    std::string got;
    r.line.ModemCommand("AT");
    r.loop.RunFor(5);
    EXPECT_EQ(r.line.GetReceiveType(), rtAll);
    // No handler yet: the echo stays queued until one is set.
    r.line.SetOnAllReceive(TAllReceiveEvent([&](void* buf, int n) {
        const char* c = static_cast<const char*>(buf);
        EXPECT_EQ(c[n], 0);
        got.append(c, static_cast<size_t>(n));
    }));
    r.loop.RunFor(5);
    EXPECT_EQ(got, "");  // bytes are handed over only when more arrive
    r.line.ModemCommand("Z");
    r.loop.RunFor(5);
    EXPECT_EQ(got, "Z\r");  // the queued echo was discarded by the new transmission
}

TEST(MemoryLine, WorksOnTheRealTimeLoop)
{
    PosixLoop loop;
    SimMeter meter(DefaultMeter());
    MemoryLine line(meter, &loop);
    line.SetBaudRate(br115200);
    std::vector<Bytes> packets;
    line.SetOnReceivePacket(TPacketEvent([&](unsigned char* d, int n) {
        packets.emplace_back(d, d + n);
        if (packets.size() == 1) line.SetLengthPacket(19);
    }));
    line.SetLengthPacket(6);
    line.SetReceiveType(rtPacket);
    const Bytes id{0xC9, 0x01, 0x0F, 0xF0, 0xC9, 0x01};
    line.Transmit_Packed(id.data(), 6);
    EXPECT_TRUE(loop.RunUntil([&] { return packets.size() == 2; }, 2000));
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].size(), 19u);
}

TEST(MemoryLine, PacketLengthsOutsideTheBufferAreHeldWithinIt)
{
    Rig r;
    r.line.SetBitRate(0);
    r.line.SetLengthPacket(-3);
    r.line.SetReceiveType(rtPacket);
    EXPECT_EQ(r.line.GetLengthPacket(), 1);
    // A length below 1 set later counts as 1; one beyond the buffer as the buffer.
    r.line.SetLengthPacket(0);
    r.Send({0x00, 0x01});
    r.loop.RunFor(3);
    ASSERT_EQ(r.packets.size(), 2u);
    r.packets.clear();
    // Five frames sent at once queue on the wire, so all 1250 echo bytes arrive after the last send.
    r.line.SetBaudRate(br115200);
    r.line.SetLengthPacket(100000);
    const Bytes big(250, 0x11);
    for (int i = 0; i < 5; ++i) r.Send(big);
    r.loop.RunFor(200);
    ASSERT_EQ(r.packets.size(), 1u);
    EXPECT_EQ(r.packets[0].bytes.size(), static_cast<size_t>(PacketCutter::kBufferSize));
}
