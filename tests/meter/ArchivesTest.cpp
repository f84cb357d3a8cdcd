// Archive reads against the simulated meter's rings: where each chunk is read, how the run wraps
// at the end of the ring, the progress shown, the values delivered oldest first, and the caller's
// handler put back after the event.
#include <string>
#include <vector>

#include "MeterRig.h"
#include "sim/MeterCommands.h"

namespace rv::test {
namespace {

constexpr uint32_t kHourLong = 0x7BC0;    // 4-byte values in 4-byte records
constexpr uint32_t kHourShort = 0x4410;   // 2 in 2
constexpr uint32_t kHourDLong = 0x14E20;  // 8 in 8
constexpr uint32_t kDayLong = 0x44940;    // 4 in 4
constexpr uint32_t kDayShort = 0x42A50;   // 2 in 2
constexpr uint32_t kDayLong6 = 0xE4F0;    // 4 in 6
constexpr uint32_t kDayDLong = 0x1B750;   // 8 in 8

// The default meter (1085 hour records, 100 day records) with other running numbers if given.
sim::MeterDescription Meter(uint32_t hours = 1085, uint32_t days = 100)
{
    sim::MeterDescription d = sim::DefaultDescription();
    d.hourRecords = hours;
    d.dayRecords = days;
    return d;
}

// Reads the archive pointers, as a caller does before an archive read.
void LoadPointers(MeterRig& rig)
{
    int events = 0;
    rig.net.OnArhives = [&](const SArhives* a) {
        ++events;
        EXPECT_TRUE(rig.CallerHoldsSlot());
        EXPECT_EQ(a->HourRecords, rig.image->flash.U32(0x2904));
    };
    rig.net.GetFArhives();
    ASSERT_TRUE(rig.RunToEnd());
    ASSERT_EQ(events, 1);
    rig.net.OnArhives = nullptr;
    rig.line.ClearLog();
}

// What the meter holds for record k of a ring of n records of size bytes at addr: the first width
// bytes of its slot, as a signed value.
int64_t Held(const MeterRig& rig, uint32_t addr, uint32_t n, uint32_t size, unsigned width, uint32_t k)
{
    const Bytes b = rig.Flash(addr + uint64_t{k % n} * size, width);
    uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i) v |= uint64_t{b[i]} << (8 * i);
    if (width < 8 && (v >> (8 * width - 1)) & 1) v |= ~uint64_t{0} << (8 * width);
    return static_cast<int64_t>(v);
}

// Requests of at most 160 bytes for a run of records values of width bytes.
size_t Chunks(uint32_t records, unsigned width)
{
    return (records * width + 159) / 160;
}

// The events of one read, as they came.
struct Delivery {
    int events = 0;
    int count = -1;
    std::vector<int64_t> values;
    bool callerHeldSlot = true;  // during the event
};

template <class T>
auto Recorder(MeterRig& rig, Delivery& d)
{
    return [&rig, &d](int count, const T* array) {
        ++d.events;
        d.count = count;
        d.values.assign(array, array + count);
        d.callerHeldSlot = rig.CallerHoldsSlot();
    };
}

TEST(Archives, NewestTenHourRecordsComeInOneRequest)
{
    MeterRig rig(Meter(100));
    LoadPointers(rig);
    EXPECT_EQ(rig.net.GetArhives().HourRecords, 100u);
    EXPECT_EQ(rig.net.GetArhives().DayRecords, 100u);
    Delivery got;
    rig.net.OnArhivesHourLong = Recorder<int32_t>(rig, got);
    rig.net.GetArrayHourLong(kHourLong, 90, 0);
    ASSERT_TRUE(rig.RunToEnd());

    const auto reqs = rig.Requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].command, sim::cmd::kReadFlashLarge);
    EXPECT_EQ(reqs[0].Address32(), kHourLong + 360);
    EXPECT_EQ(reqs[0].CountAfter(4), 40);
    ASSERT_EQ(got.events, 1);
    ASSERT_EQ(got.count, 10);
    for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(got.values[i], 100000 + 7 * (90 + i)) << i;
    // The event comes first, then the caller's handler is put back.
    EXPECT_FALSE(got.callerHeldSlot);
    EXPECT_TRUE(rig.CallerHoldsSlot());
}

TEST(Archives, WrappedRingIsReadOldestFirstInTwoPasses)
{
    MeterRig rig;  // 1085 hour records: slot 5 holds the oldest
    LoadPointers(rig);
    std::vector<std::string> progress;
    rig.net.SetProgressControl([&](const std::string& text) { progress.push_back(text); });
    Delivery got;
    rig.net.OnArhivesHourShort = Recorder<int16_t>(rig, got);
    rig.net.GetArrayHourShort(kHourShort, 0, 0);
    ASSERT_TRUE(rig.RunToEnd());

    // 1075 records from slot 5 in chunks of 80 values, then 5 from slot 0.
    const auto reqs = rig.Requests();
    ASSERT_EQ(reqs.size(), 15u);
    uint32_t at = kHourShort + 10;
    for (size_t i = 0; i < 14; ++i) {
        EXPECT_EQ(reqs[i].Address32(), at) << i;
        EXPECT_EQ(reqs[i].CountAfter(4), i < 13 ? 160 : 70) << i;
        at += reqs[i].CountAfter(4);
    }
    EXPECT_EQ(reqs[14].Address32(), kHourShort);
    EXPECT_EQ(reqs[14].CountAfter(4), 10);

    ASSERT_EQ(got.events, 1);
    ASSERT_EQ(got.count, 1080);
    for (uint32_t i = 0; i < 1080; ++i) ASSERT_EQ(got.values[i], 3 * (5 + i)) << i;
    std::vector<std::string> want;
    for (int still = 1075 - 80; still > 0; still -= 80) want.push_back(std::to_string(still));
    want.push_back("5");  // the wrapped pass
    EXPECT_EQ(progress, want);
    EXPECT_TRUE(rig.CallerHoldsSlot());
}

TEST(Archives, NothingToReadRaisesTheEventAtOnce)
{
    MeterRig rig(Meter(0, 100));
    LoadPointers(rig);
    Delivery hours, days;
    rig.net.OnArhivesHourLong = Recorder<int32_t>(rig, hours);
    rig.net.OnArhivesDayShort = Recorder<int16_t>(rig, days);
    rig.net.GetArrayHourLong(kHourLong, 0, 0);
    EXPECT_EQ(hours.events, 1);  // inside the call
    EXPECT_EQ(hours.count, 0);
    EXPECT_TRUE(rig.CallerHoldsSlot());
    EXPECT_FALSE(rig.net.GetDecoding());
    // A start beyond the newest record is taken as the newest: nothing either.
    rig.net.GetArrayDayShort(kDayShort, 500, 0);
    EXPECT_EQ(days.events, 1);
    EXPECT_EQ(days.count, 0);
    rig.loop.RunFor(5000);
    EXPECT_TRUE(rig.line.Writes().empty());
    EXPECT_TRUE(rig.CallerHoldsSlot());
    EXPECT_TRUE(rig.callerCalls.empty());
}

TEST(Archives, HundredRecordsComeInChunksOf160BytesWithTheirProgress)
{
    MeterRig rig;
    LoadPointers(rig);
    std::vector<std::string> progress;
    rig.net.SetProgressControl([&](const std::string& text) { progress.push_back(text); });
    Delivery got;
    rig.net.OnArhivesDayLong = Recorder<int32_t>(rig, got);
    rig.net.GetArrayDayLong(kDayLong, 0, 0);
    ASSERT_TRUE(rig.RunToEnd());
    const auto reqs = rig.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    const uint32_t counts[] = {160, 160, 80};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reqs[i].Address32(), kDayLong + 160 * i) << i;
        EXPECT_EQ(reqs[i].CountAfter(4), counts[i]) << i;
    }
    EXPECT_EQ(progress, (std::vector<std::string>{"60", "20"}));
    ASSERT_EQ(got.count, 100);
    for (uint32_t i = 0; i < 100; ++i) EXPECT_EQ(got.values[i], 5000 + 11 * i) << i;
}

TEST(Archives, Layout2ReadsStrideByTheRecordSize)
{
    MeterRig rig;
    LoadPointers(rig);
    Delivery got;
    rig.net.OnArhivesV2DayLong = Recorder<int32_t>(rig, got);
    rig.net.GetArrayDayLongV2(kDayLong6, 10, 0, 6);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.net.GetRecordSizeV2(), 6);
    // 90 values of 4 bytes: 40, 40 and 10 per request, the flash offset 6 bytes per value.
    const auto reqs = rig.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    const uint32_t bytes[] = {160, 160, 40};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reqs[i].command, sim::cmd::kReadArchive);
        EXPECT_EQ(reqs[i].Address32(), kDayLong6 + 6 * (10 + 40 * i)) << i;
        EXPECT_EQ(reqs[i].CountAfter(4), bytes[i]) << i;
        EXPECT_EQ(reqs[i].params.at(5), 4) << i;  // the value width
    }
    ASSERT_EQ(got.count, 90);
    for (uint32_t i = 0; i < 90; ++i) EXPECT_EQ(got.values[i], -20 + 5 * static_cast<int>(10 + i)) << i;

    // The 16-bit hour read keeps the record size it is given but its ring lies densely.
    rig.line.ClearLog();
    Delivery shorts;
    rig.net.OnArhivesV2HourShort = Recorder<int16_t>(rig, shorts);
    rig.net.GetArrayHourShortV2(kHourShort, 1000, 0, 6);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.net.GetRecordSizeV2(), 6);
    const auto v2 = rig.Requests();
    ASSERT_EQ(v2.size(), 2u);
    EXPECT_EQ(v2[0].Address32(), kHourShort + 2000);
    EXPECT_EQ(v2[1].Address32(), kHourShort);  // 80 to the end of the ring, then 5 from slot 0
    ASSERT_EQ(shorts.count, 85);
    EXPECT_EQ(shorts.values[84], 3 * 1084);
}

TEST(Archives, ACountBeyondTheRingYieldsAtMostTheRing)
{
    MeterRig rig;
    LoadPointers(rig);
    Delivery got;
    rig.net.OnArhivesV2HourDLong = Recorder<int64_t>(rig, got);
    rig.net.GetArrayHourDLongV2(kHourDLong, 0, 100000, 8);
    ASSERT_TRUE(rig.RunToEnd());
    ASSERT_EQ(got.count, 1080);
    for (uint32_t i = 0; i < 1080; ++i) ASSERT_EQ(got.values[i], 1000000000000 + 1000003LL * (5 + i)) << i;
    for (const SentRequest& r : rig.Requests()) EXPECT_LE(r.CountAfter(4), 160);

    // A ring not yet full: the run goes to the end of the ring and stops, past the records written.
    rig.line.ClearLog();
    Delivery days;
    rig.net.OnArhivesDayShort = Recorder<int16_t>(rig, days);
    rig.net.GetArrayDayShort(kDayShort, 0, 5000);
    ASSERT_TRUE(rig.RunToEnd());
    ASSERT_EQ(days.count, 550);
    for (uint32_t i = 0; i < 550; ++i) ASSERT_EQ(days.values[i], Held(rig, kDayShort, 550, 2, 2, i)) << i;
    EXPECT_EQ(rig.Requests().back().Address32() + rig.Requests().back().CountAfter(4), kDayShort + 1100);

    // A start older than the ring holds begins at the oldest record still there.
    rig.line.ClearLog();
    Delivery hours;
    rig.net.OnArhivesHourLong = Recorder<int32_t>(rig, hours);
    rig.net.GetArrayHourLong(kHourLong, 2, 10);
    ASSERT_TRUE(rig.RunToEnd());
    ASSERT_EQ(hours.count, 10);
    EXPECT_EQ(rig.Requests().at(0).Address32(), kHourLong + 4 * 5);
    EXPECT_EQ(hours.values[0], 100000 + 7 * 5);
}

// Every one of the ten reads, over the end of the hour rings: its own event, its own buffer, the
// meter's values.
TEST(Archives, EachReadRaisesItsOwnEventWithTheMetersValues)
{
    MeterRig rig;
    LoadPointers(rig);
    TRurIvaQs_6x6& n = rig.net;
    std::vector<std::string> fired;
    Delivery got;
    auto hook = [&]<class T>(const char* name) {
        return [&, name](int count, const T* array) {
            fired.push_back(name);
            Recorder<T>(rig, got)(count, array);
        };
    };
    n.OnArhivesHourLong = hook.operator()<int32_t>("HourLong");
    n.OnArhivesDayLong = hook.operator()<int32_t>("DayLong");
    n.OnArhivesHourShort = hook.operator()<int16_t>("HourShort");
    n.OnArhivesDayShort = hook.operator()<int16_t>("DayShort");
    n.OnArhivesV2HourShort = hook.operator()<int16_t>("HourShortV2");
    n.OnArhivesV2DayShort = hook.operator()<int16_t>("DayShortV2");
    n.OnArhivesV2HourLong = hook.operator()<int32_t>("HourLongV2");
    n.OnArhivesV2DayLong = hook.operator()<int32_t>("DayLongV2");
    n.OnArhivesV2HourDLong = hook.operator()<int64_t>("HourDLongV2");
    n.OnArhivesV2DayDLong = hook.operator()<int64_t>("DayDLongV2");

    struct Case {
        const char* name;
        std::function<void(uint32_t from)> read;
        bool hour;
        uint32_t addr, size;
        unsigned width;
        bool layout2;
    };
    const Case cases[] = {
        {"HourLong", [&](uint32_t f) { n.GetArrayHourLong(kHourLong, f, 0); }, true, kHourLong, 4, 4, false},
        {"DayLong", [&](uint32_t f) { n.GetArrayDayLong(kDayLong, f, 0); }, false, kDayLong, 4, 4, false},
        {"HourShort", [&](uint32_t f) { n.GetArrayHourShort(kHourShort, f, 0); }, true, kHourShort, 2, 2, false},
        {"DayShort", [&](uint32_t f) { n.GetArrayDayShort(kDayShort, f, 0); }, false, kDayShort, 2, 2, false},
        {"HourShortV2", [&](uint32_t f) { n.GetArrayHourShortV2(kHourShort, f, 0, 2); }, true, kHourShort, 2, 2, true},
        {"DayShortV2", [&](uint32_t f) { n.GetArrayDayShortV2(kDayShort, f, 0, 2); }, false, kDayShort, 2, 2, true},
        {"HourLongV2", [&](uint32_t f) { n.GetArrayHourLongV2(kHourLong, f, 0, 4); }, true, kHourLong, 4, 4, true},
        {"DayLongV2", [&](uint32_t f) { n.GetArrayDayLongV2(kDayLong6, f, 0, 6); }, false, kDayLong6, 6, 4, true},
        {"HourDLongV2", [&](uint32_t f) { n.GetArrayHourDLongV2(kHourDLong, f, 0, 8); }, true, kHourDLong, 8, 8, true},
        {"DayDLongV2", [&](uint32_t f) { n.GetArrayDayDLongV2(kDayDLong, f, 0, 8); }, false, kDayDLong, 8, 8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fired.clear();
        got = {};
        rig.line.ClearLog();
        const uint32_t P = c.hour ? 1085 : 100;
        const uint32_t N = c.hour ? 1080 : 550;
        c.read(P - 30);
        ASSERT_TRUE(rig.RunToEnd());
        EXPECT_EQ(fired, std::vector<std::string>{c.name});
        ASSERT_EQ(got.count, 30);
        for (uint32_t i = 0; i < 30; ++i) EXPECT_EQ(got.values[i], Held(rig, c.addr, N, c.size, c.width, P - 30 + i));
        for (const SentRequest& r : rig.Requests()) {
            EXPECT_EQ(r.command, c.layout2 ? sim::cmd::kReadArchive : sim::cmd::kReadFlashLarge);
            if (c.layout2) {
                EXPECT_EQ(r.params.at(5), c.width);
            }
        }
        // The hour runs pass the end of the ring: 25 records, then 5 from slot 0.
        const size_t chunks = c.hour ? Chunks(25, c.width) + Chunks(5, c.width) : Chunks(30, c.width);
        EXPECT_EQ(rig.Requests().size(), chunks);
        EXPECT_TRUE(rig.CallerHoldsSlot());
    }
    EXPECT_TRUE(rig.callerCalls.empty());
}

TEST(Archives, AnEventHandlerMayStartTheNextRead)
{
    MeterRig rig;
    LoadPointers(rig);
    int flags = 0;
    rig.net.OnArhivesHourLong = [&](int, const int32_t*) { rig.net.GetFB_6x6(); };
    rig.net.OnFB6x6 = [&](const S6x6FlagsByte* f) {
        ++flags;
        EXPECT_TRUE(f->EmulatorMode());
        EXPECT_TRUE(rig.CallerHoldsSlot());
    };
    rig.net.GetFPointerRAM();
    ASSERT_TRUE(rig.RunToEnd());
    rig.net.GetArrayHourLong(kHourLong, 1080, 0);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(flags, 1);
    EXPECT_TRUE(rig.CallerHoldsSlot());
    EXPECT_TRUE(rig.callerCalls.empty());
}

// A meter that answers archive reads with a few bytes fewer than asked, ragged ones included.
TEST(Archives, ShortAnswersOnlyCostMoreRequests)
{
    MeterRig rig;
    LoadPointers(rig);
    const sim::SimMeter::CommandHandler plain = rig.meter.CommandHandlerFor(sim::cmd::kReadFlashLarge);
    rig.meter.SetCommandHandler(sim::cmd::kReadFlashLarge, [plain](sim::SimMeter& m, const sim::Request& r) {
        sim::Answer a = plain(m, r);
        if (a.bytes.size() > 4) a.bytes.resize(a.bytes.size() - 3);
        return a;
    });
    Delivery got;
    rig.net.OnArhivesHourLong = Recorder<int32_t>(rig, got);
    rig.net.GetArrayHourLong(kHourLong, 985, 0);
    ASSERT_TRUE(rig.RunToEnd());
    ASSERT_EQ(got.count, 100);
    for (uint32_t i = 0; i < 100; ++i) EXPECT_EQ(got.values[i], 100000 + 7 * (985 + i)) << i;
    // Each request starts at the first value the one before did not bring whole.
    const auto reqs = rig.Requests();
    for (size_t i = 1; i < reqs.size(); ++i) EXPECT_EQ((reqs[i].Address32() - kHourLong) % 4, 0u) << i;

    // A meter that answers with no whole value at all ends the read rather than asking for ever.
    rig.meter.SetCommandHandler(sim::cmd::kReadFlashLarge, [](sim::SimMeter&, const sim::Request&) {
        return sim::Answer::Framed({1, 2, 3});
    });
    got = {};
    rig.net.GetArrayHourLong(kHourLong, 985, 0);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(got.events, 1);
    EXPECT_EQ(got.count, 0);
    EXPECT_TRUE(rig.CallerHoldsSlot());
}

}  // namespace
}  // namespace rv::test
