// Fault injection: reproducible under a seed, at the rates asked, and only where a fault can exist.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "protocol/Frame.h"
#include "sim/MeterDescription.h"
#include "sim/SimMeter.h"

using namespace rv;
using namespace rv::sim;

namespace {

using Bytes = std::vector<uint8_t>;

struct Outcome {
    Bytes answer;
    FaultApplied fault;
    bool operator==(const Outcome& o) const
    {
        return answer == o.answer && fault.dropped == o.fault.dropped && fault.badChecksum == o.fault.badChecksum &&
               fault.garbageBytes == o.fault.garbageBytes && fault.delayMs == o.fault.delayMs;
    }
};

const Bytes kRead{0xC9, 0x04, 0x30, 0x34, 0x12, 0x64, 0xF0, 0x97, 0x02};
const Bytes kWrite{0xC9, 0x05, 0x20, 0x30, 0x03, 0x01, 0x55, 0xF0, 0x00, 0x00};

Bytes Checked(Bytes frame)
{
    PutU16(frame.data() + frame.size() - 2, CRC(frame.data(), static_cast<unsigned char>(frame.size() - 2)));
    return frame;
}

std::vector<Outcome> Serve(const FaultPlan& plan, int n, const Bytes& request = kRead)
{
    SimMeter meter(DefaultMeter(), plan);
    std::vector<Outcome> out;
    for (int i = 0; i < n; ++i)
        meter.Receive(request.data(), request.size(),
                      [&](const Bytes& a, const FaultApplied& f) { out.push_back({a, f}); });
    return out;
}

FaultPlan Mixed(uint32_t seed)
{
    FaultPlan p;
    p.seed = seed;
    p.dropAnswer = 0.2;
    p.badChecksum = 0.1;
    p.garbage = 0.1;
    p.late = 0.05;
    p.lateMs = 1700;
    return p;
}

}  // namespace

TEST(FaultPlan, SameSeedSameFaultsOtherSeedOtherFaults)
{
    const auto a = Serve(Mixed(42), 300);
    EXPECT_EQ(a, Serve(Mixed(42), 300));
    EXPECT_NE(a, Serve(Mixed(43), 300));

    // Changing the seed of a running meter starts the new seed's sequence.
    SimMeter meter(DefaultMeter(), Mixed(1));
    std::vector<Outcome> b;
    auto feed = [&](int n) {
        for (int i = 0; i < n; ++i)
            meter.Receive(kRead.data(), kRead.size(), [&](const Bytes& x, const FaultApplied& f) { b.push_back({x, f}); });
    };
    feed(10);
    meter.Faults().seed = 42;
    b.clear();
    feed(300);
    EXPECT_EQ(b, a);
}

TEST(FaultPlan, RatesAndKindsOfFaults)
{
    const auto out = Serve(Mixed(7), 2000);
    int dropped = 0, spoilt = 0, garbage = 0, late = 0;
    for (const Outcome& o : out) {
        if (o.fault.dropped) {
            ++dropped;
            EXPECT_TRUE(o.answer.empty());
            continue;
        }
        const size_t g = static_cast<size_t>(o.fault.garbageBytes);
        EXPECT_LE(g, 8u);
        ASSERT_EQ(o.answer.size(), 105 + g);
        const FrameCheck check = CheckFramedAnswer(o.answer.data() + g, 105, 0xF0);
        EXPECT_EQ(check, o.fault.badChecksum ? FrameCheck::BadChecksum : FrameCheck::Ok);
        spoilt += o.fault.badChecksum;
        garbage += g > 0;
        if (o.fault.delayMs) {
            EXPECT_EQ(o.fault.delayMs, 1700u);
            ++late;
        }
    }
    EXPECT_NEAR(dropped, 400, 60);
    EXPECT_NEAR(spoilt, 160, 45);  // 10 % of the answers that were sent
    EXPECT_NEAR(garbage, 160, 45);
    EXPECT_NEAR(late, 80, 30);
}

TEST(FaultPlan, CertainAndImpossibleFaults)
{
    FaultPlan never;
    never.dropAnswer = 0;
    for (const Outcome& o : Serve(never, 50)) {
        EXPECT_FALSE(o.fault.dropped || o.fault.badChecksum || o.fault.garbageBytes || o.fault.delayMs);
        EXPECT_EQ(o.answer.size(), 105u);
    }
    FaultPlan nan;
    nan.dropAnswer = std::numeric_limits<double>::quiet_NaN();
    nan.badChecksum = -1;
    for (const Outcome& o : Serve(nan, 20)) EXPECT_FALSE(o.fault.dropped || o.fault.badChecksum);
    FaultPlan always;
    always.dropAnswer = 1;
    for (const Outcome& o : Serve(always, 20)) EXPECT_TRUE(o.fault.dropped && o.answer.empty());

    // An acknowledge has no checksum to spoil; garbage still precedes it.
    FaultPlan spoil;
    spoil.badChecksum = 1;
    spoil.garbage = 1;
    for (const Outcome& o : Serve(spoil, 20, Checked(kWrite))) {
        EXPECT_FALSE(o.fault.badChecksum);
        ASSERT_GE(o.fault.garbageBytes, 1);
        ASSERT_EQ(o.answer.size(), static_cast<size_t>(o.fault.garbageBytes) + 1);
        EXPECT_EQ(o.answer.back(), kAckOk);
    }
    // A request that is not answered takes no fault.
    FaultPlan all = spoil;
    all.late = 1;
    for (const Outcome& o : Serve(all, 5, Checked({0xC9, 0x01, 0x99, 0xF0, 0, 0}))) {
        EXPECT_TRUE(o.answer.empty());
        EXPECT_FALSE(o.fault.badChecksum || o.fault.garbageBytes || o.fault.delayMs);
    }
}

TEST(FaultPlan, ResizedAnswersOfANamedReadCarryARightChecksum)
{
    FaultPlan plan;
    plan.resized = {{0x30, 0x1234, -10, 2}, {0x30, 0x1234, +200, 1}, {0x30, 0x4321, -1, 0}};
    SimMeter meter(DefaultMeter(), plan);
    std::vector<Outcome> out;
    const auto serve = [&](const Bytes& request) {
        meter.Receive(request.data(), request.size(), [&](const Bytes& a, const FaultApplied& f) {
            out.push_back({a, f});
        });
    };
    for (int i = 0; i < 4; ++i) serve(kRead);
    serve(Checked({0xC9, 0x04, 0x30, 0x21, 0x43, 0x64, 0xF0, 0, 0}));  // the same read elsewhere: every time
    ASSERT_EQ(out.size(), 5u);
    // Two answers ten bytes short, one long (capped at the largest payload), then the answer as asked.
    const int payloads[] = {90, 90, 250, 100, 99};
    const int by[] = {-10, -10, 150, 0, -1};
    for (size_t i = 0; i < out.size(); ++i) {
        const Bytes& a = out[i].answer;
        ASSERT_EQ(a.size(), static_cast<size_t>(payloads[i]) + 5) << i;
        EXPECT_EQ(a[1], payloads[i]) << i;
        EXPECT_EQ(GetU16(a.data() + a.size() - 2), CRC(a.data(), static_cast<unsigned char>(a.size() - 2))) << i;
        EXPECT_EQ(out[i].fault.resizedBy, by[i]) << i;
    }
    EXPECT_EQ(out[2].answer[5 + 100], 0xEE);  // the filler after the bytes that were asked for
    EXPECT_EQ(meter.Faults().resized[0].done, 2u);
    EXPECT_EQ(meter.Faults().resized[1].done, 1u);
}
