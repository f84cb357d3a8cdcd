// The responder against hand-built request frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "protocol/Frame.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

using namespace rv;
using namespace rv::sim;

namespace {

using Bytes = std::vector<uint8_t>;

struct Heard {
    Bytes answer;
    FaultApplied fault;
};

struct Rig {
    SimMeter meter{DefaultMeter()};
    std::vector<Heard> heard;

    void Feed(const Bytes& b)
    {
        meter.Receive(b.data(), b.size(),
                      [&](const Bytes& answer, const FaultApplied& fault) { heard.push_back({answer, fault}); });
    }
    Bytes Ask(uint8_t command, const Bytes& params, uint8_t dest = 0xC9)
    {
        Bytes frame(params.size() + 6);
        frame.resize(BuildRequest(frame.data(), dest, command, params.data(), params.size(), 0xF0));
        heard.clear();
        Feed(frame);
        EXPECT_EQ(heard.size(), 1u);
        return heard.empty() ? Bytes{} : heard.back().answer;
    }
};

Bytes Payload(const Bytes& framed) { return Bytes(framed.begin() + 2, framed.end() - 3); }

}  // namespace

TEST(SimMeter, IdentityAnswerCarriesTheRecordUnderAValidChecksum)
{
    Rig r;
    r.meter.Image().SetSerialNumber(0x01020304);
    r.meter.Image().SetSoftwareVersion(199);
    r.heard.clear();
    r.Feed({0xC9, 0x01, 0x0F, 0xF0, 0xC9, 0x01});
    ASSERT_EQ(r.heard.size(), 1u);
    const Bytes& a = r.heard[0].answer;
    ASSERT_EQ(a.size(), kIdentityAnswerSize);
    EXPECT_EQ(a[0], 0xF0);
    EXPECT_EQ(a[1], 14);
    EXPECT_EQ(CheckIdentityAnswer(a.data(), a.size(), 0xF0), FrameCheck::Ok);
    EXPECT_EQ(GetU16(a.data() + 2 + 2), 199);
    EXPECT_EQ(GetU32(a.data() + 2 + 8), 0x01020304u);
}

TEST(SimMeter, FlashReadAnswersTheBytesAtTheAddress)
{
    Rig r;
    for (uint32_t i = 0; i < 100; ++i) r.meter.Image().flash.PutU8(0x1234 + i, static_cast<uint8_t>(i * 7));
    r.heard.clear();
    r.Feed({0xC9, 0x04, 0x30, 0x34, 0x12, 0x64, 0xF0, 0x97, 0x02});
    ASSERT_EQ(r.heard.size(), 1u);
    const Bytes& a = r.heard[0].answer;
    ASSERT_EQ(a.size(), 105u);
    EXPECT_EQ(a[0], 0xF0);
    EXPECT_EQ(a[1], 0x64);
    EXPECT_EQ(CheckFramedAnswer(a.data(), a.size(), 0xF0), FrameCheck::Ok);
    for (size_t i = 0; i < 100; ++i) ASSERT_EQ(a[2 + i], static_cast<uint8_t>(i * 7)) << i;

    // The 32-bit form reaches the event journal near the top of flash.
    r.meter.Image().flash.PutU16(layout::kEventJournal + 4, 0x1234);
    Bytes p(5);
    PutU32(p.data(), layout::kEventJournal + 4);
    p[4] = 2;
    EXPECT_EQ(Payload(r.Ask(cmd::kReadFlashLarge, p)), (Bytes{0x34, 0x12}));
}

TEST(SimMeter, WritesLandInMemoryAndAreAcknowledged)
{
    Rig r;
    MeterImage& img = r.meter.Image();
    EXPECT_EQ(r.Ask(cmd::kWriteRam, {0x30, 0x03, 2, 0xAA, 0xBB}), Bytes{kAckOk});
    EXPECT_EQ(img.ram.U16(0x0330), 0xBBAA);
    EXPECT_EQ(r.Ask(cmd::kWriteFlash, {0x00, 0x20, 1, 0x5C}), Bytes{kAckOk});
    EXPECT_EQ(img.flash.U8(0x2000), 0x5C);
    Bytes large{0, 0, 0, 0, 4, 1, 2, 3, 4};
    PutU32(large.data(), layout::SensorAddress(2) + layout::sensor::kKfs);
    EXPECT_EQ(r.Ask(cmd::kWriteFlashLarge, large), Bytes{kAckOk});
    EXPECT_EQ(img.flash.U32(layout::SensorAddress(2) + layout::sensor::kKfs), 0x04030201u);

    // The F149 pair: the write goes to 0xCA with the count before the address.
    EXPECT_EQ(r.Ask(cmd::kWriteF149, {2, 0x34, 0x12, 0xAA, 0xBB}, 0xCA), Bytes{kAckOk});
    EXPECT_EQ(img.f149.U16(0x1234), 0xBBAA);
    EXPECT_EQ(r.Ask(cmd::kClearF149, {}), Bytes{kAckOk});
    EXPECT_EQ(img.f149.U16(0x1234), 0xFFFF);

    EXPECT_EQ(r.Ask(cmd::kPassword, {1, 2, 3, 4}), Bytes{kAckOk});
    EXPECT_EQ(img.password, 0x04030201u);
    EXPECT_EQ(r.Ask(cmd::kKeyPress, {7}), Bytes{kAckOk});
    EXPECT_EQ(img.lastKey, 7);
    Bytes time(20);
    for (size_t i = 0; i < time.size(); ++i) time[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(r.Ask(cmd::kSetTime, time), Bytes{kAckOk});
    EXPECT_EQ(Bytes(img.clock.begin(), img.clock.end()), time);
}

TEST(SimMeter, OutOfImageAccessIsBoundedAndSaysSo)
{
    Rig r;
    // A read that runs off the end of flash answers 0xFF for the missing part.
    Bytes p(5);
    PutU32(p.data(), layout::kFlashSize - 2);
    p[4] = 4;
    r.meter.Image().flash.PutU16(layout::kFlashSize - 2, 0x2211);
    EXPECT_EQ(Payload(r.Ask(cmd::kReadFlashLarge, p)), (Bytes{0x11, 0x22, 0xFF, 0xFF}));
    PutU32(p.data(), 0xFFFFFFF0u);
    EXPECT_EQ(Payload(r.Ask(cmd::kReadFlashLarge, p)), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    // RAM reads past 0xFFFF do not wrap.
    EXPECT_EQ(Payload(r.Ask(cmd::kReadRam, {0xFF, 0xFF, 2})).size(), 2u);
    // A write that does not fit changes nothing and is refused.
    const MeterImage before = r.meter.Image();
    Bytes w{0, 0, 0, 0, 4, 9, 9, 9, 9};
    PutU32(w.data(), layout::kFlashSize - 2);
    EXPECT_EQ(r.Ask(cmd::kWriteFlashLarge, w), Bytes{kAckRefused});
    EXPECT_EQ(r.Ask(cmd::kWriteRam, {0xFE, 0xFF, 4, 1, 2, 3, 4}), Bytes{kAckRefused});
    EXPECT_TRUE(r.meter.Image() == before);
    // A count that disagrees with the frame length is not answered.
    EXPECT_TRUE(r.Ask(cmd::kWriteRam, {0x00, 0x03, 5, 1, 2}).empty());
    EXPECT_TRUE(r.Ask(cmd::kReadFlash, {0x00, 0x01}).empty());
    EXPECT_TRUE(r.meter.Image() == before);
}

TEST(SimMeter, FindsFramesAmongWakeUpBytesGarbageAndFragments)
{
    Rig r;
    const Bytes id{0xC9, 0x01, 0x0F, 0xF0, 0xC9, 0x01};
    r.Feed({0x00});
    EXPECT_TRUE(r.heard.empty());
    // Garbage that starts like a frame head (the slave address and a long L) must not swallow the
    // request behind it, nor must a frame with a wrong checksum or one for another station.
    Bytes stream{0x55, 0xC9, 0xFA, 0x13, 0xC9, 0x01, 0x0F, 0xF0, 0xC9, 0x02, 0x07, 0x01, 0x0F, 0xF0, 0x07, 0x01};
    stream.insert(stream.end(), id.begin(), id.end());
    for (uint8_t b : stream) r.Feed({b});
    ASSERT_EQ(r.heard.size(), 1u);
    EXPECT_EQ(r.heard[0].answer.size(), kIdentityAnswerSize);
    EXPECT_EQ(r.meter.TotalRequests(), 1u);

    // Two requests in one piece are both answered, in order.
    r.heard.clear();
    Bytes two = id;
    two.insert(two.end(), {0xC9, 0x04, 0x30, 0x34, 0x12, 0x64, 0xF0, 0x97, 0x02});
    r.Feed(two);
    ASSERT_EQ(r.heard.size(), 2u);
    EXPECT_EQ(r.heard[0].answer.size(), 19u);
    EXPECT_EQ(r.heard[1].answer.size(), 105u);
    EXPECT_EQ(r.meter.RequestCount(cmd::kIdentity), 2u);
    EXPECT_EQ(r.meter.RequestCount(cmd::kReadFlash), 1u);

    // A half request is forgotten on ResetInput.
    r.heard.clear();
    r.Feed({0xC9, 0x01, 0x0F});
    r.meter.ResetInput();
    r.Feed({0xF0, 0xC9, 0x01});
    EXPECT_TRUE(r.heard.empty());
}

TEST(SimMeter, ModuleCounterDisplayAndControlSum)
{
    Rig r;
    r.meter.Image().moduleCount = 3;
    const Bytes mc = r.Ask(cmd::kModuleCounter, {});
    ASSERT_EQ(mc.size(), kModuleCounterAnswerSize);
    EXPECT_EQ(mc[0], 0xF0);
    EXPECT_EQ(static_cast<int8_t>(mc[2]), 3);

    r.meter.Image().display = "Q=1";
    EXPECT_EQ(Payload(r.Ask(cmd::kDisplay, {})), (Bytes{'Q', '=', '1'}));
    r.meter.Image().flash.Fill(0x1000, 0x1000, 0);
    r.meter.Image().flash.PutU8(0x1000, 0xFF);
    r.meter.Image().flash.PutU8(0x1FFF, 0x02);
    EXPECT_EQ(Payload(r.Ask(cmd::kCtrSum, {1, 0})), (Bytes{0x01, 0x01}));
}

TEST(SimMeter, HandlersCanBeAddedAndWrapped)
{
    Rig r;
    // A later layer refuses writes into the sensor records unless the meter is in correction mode.
    const SimMeter::CommandHandler plain = r.meter.CommandHandlerFor(cmd::kWriteFlashLarge);
    r.meter.SetCommandHandler(cmd::kWriteFlashLarge, [plain](SimMeter& m, const Request& q) {
        if (!(m.Image().Status() & kStatusCorrectionMode)) return Answer::Ack(kAckRefused);
        return plain(m, q);
    });
    r.meter.SetCommandHandler(0x84, [](SimMeter&, const Request&) { return Answer::Ack(kAckOk); });
    Bytes w{0, 0, 0, 0, 1, 0x42};
    PutU32(w.data(), 0x300);
    EXPECT_EQ(r.Ask(cmd::kWriteFlashLarge, w), Bytes{kAckRefused});
    r.meter.Image().SetStatus(kStatusCorrectionMode);
    EXPECT_EQ(r.Ask(cmd::kWriteFlashLarge, w), Bytes{kAckOk});
    EXPECT_EQ(r.meter.Image().flash.U8(0x300), 0x42);
    EXPECT_EQ(r.Ask(0x84, {5}), Bytes{kAckOk});
    // An unknown command is heard and left unanswered.
    EXPECT_TRUE(r.Ask(0x99, {}).empty());
}

TEST(SimMeter, EveryRequestIsFoundInRandomNoiseDeliveredInRandomPieces)
{
    Rig r;
    std::mt19937 rng(2024);
    const Bytes id{0xC9, 0x01, 0x0F, 0xF0, 0xC9, 0x01};
    Bytes stream;
    int frames = 0;
    for (int i = 0; i < 300; ++i) {
        const int noise = static_cast<int>(rng() % 40);
        // Noise rich in the meter's own addresses, so that many false frame starts are tried.
        for (int k = 0; k < noise; ++k) {
            const uint32_t x = rng();
            stream.push_back(x % 4 == 0 ? 0xC9 : x % 4 == 1 ? 0xCA : static_cast<uint8_t>(x >> 8));
        }
        stream.insert(stream.end(), id.begin(), id.end());
        ++frames;
    }
    for (size_t at = 0; at < stream.size();) {
        const size_t n = std::min<size_t>(1 + rng() % 64, stream.size() - at);
        r.Feed(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                     stream.begin() + static_cast<std::ptrdiff_t>(at + n)));
        at += n;
    }
    EXPECT_EQ(r.meter.RequestCount(cmd::kIdentity), static_cast<uint64_t>(frames));
}
