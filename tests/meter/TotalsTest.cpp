// Totals, error journals and the clearing writes against the simulated meter: the addresses read
// and written, the records decoded from what the meter holds, and the events of the clearings.
#include <string>
#include <vector>

#include "MeterRig.h"
#include "meter/FlashAddress.h"
#include "sim/MeterCommands.h"

namespace rv::test {
namespace {

constexpr uint32_t kErrors = 0x72568;
constexpr uint32_t kEvents = 0x74458;

// Fills n bytes from addr with a pattern that tells every address apart.
void Pattern(sim::MemoryArea& area, uint32_t addr, size_t n)
{
    for (uint32_t i = 0; i < n; ++i) area.PutU8(addr + i, static_cast<uint8_t>(i * 13 + (i >> 8) + 1));
}

TEST(Totals, ModuleHourSumsTakeTheirSecondPartAcrossTheTopOfRam)
{
    MeterRig rig;
    rig.image->SetRamPointer(10, 0xFFC0);
    Pattern(rig.image->ram, 0xFFC0, 64);
    Pattern(rig.image->ram, 0x0000, 0x200);
    rig.net.GetFPointerRAM();
    ASSERT_TRUE(rig.RunToEnd());
    rig.line.ClearLog();

    int events = 0;
    rig.net.OnModuleSumHoure = [&](const UModuleSumHoure* s) {
        ++events;
        EXPECT_EQ(s, &rig.net.GetModuleSumHoure());
        EXPECT_TRUE(rig.CallerHoldsSlot());
    };
    rig.net.GetModuleSumHour();
    ASSERT_TRUE(rig.RunToEnd());
    const auto reqs = rig.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].Address16(), 0xFFC0);
    EXPECT_EQ(reqs[0].CountAfter(2), 160);
    EXPECT_EQ(reqs[1].Address16(), 0x0060);
    EXPECT_EQ(reqs[1].CountAfter(2), 88);
    ASSERT_EQ(events, 1);
    const uint8_t* got = rig.net.GetModuleSumHoure().Bytes;
    EXPECT_EQ(Bytes(got, got + 64), rig.Ram(0xFFC0, 64));
    EXPECT_EQ(Bytes(got + 64, got + 160), Bytes(96, 0xFF));  // the simulated meter has no RAM above 0xFFFF
    EXPECT_EQ(Bytes(got + 160, got + 248), rig.Ram(0x0060, 88));
}

TEST(Totals, SumsAndStopTimesAreTheMetersBytes)
{
    MeterRig rig;
    const sim::MeterImage& img = *rig.image;
    Pattern(rig.image->ram, img.RamPointer(10), 248);
    rig.net.GetFPointerRAM();
    ASSERT_TRUE(rig.RunToEnd());

    rig.line.ClearLog();
    const SModuleSumALLM* all = nullptr;
    rig.net.OnV2AllSumm = [&](const SModuleSumALLM* s) { all = s; };
    rig.net.V2GetAllSumm();
    ASSERT_TRUE(rig.RunToEnd());
    ASSERT_EQ(all, &rig.net.GetModuleSumALLM());
    EXPECT_EQ(Bytes(all->Bytes, all->Bytes + 248), rig.Ram(img.RamPointer(10), 248));
    auto reqs = rig.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reqs[i].Address16(), img.RamPointer(10) + 100 * i);
        EXPECT_EQ(reqs[i].CountAfter(2), i < 2 ? 100 : 48);
    }

    rig.line.ClearLog();
    const SAllSumm* sums = nullptr;
    rig.net.OnFAllSumm = [&](const SAllSumm* s) { sums = s; };
    rig.net.GetFAllSumm();
    ASSERT_TRUE(rig.RunToEnd());
    ASSERT_EQ(sums, &rig.net.GetAllSumm());
    EXPECT_EQ(Bytes(sums->Bytes, sums->Bytes + 560), rig.Flash(FlashAddress(28), 560));
    EXPECT_EQ(GetU32(sums->Bytes + 4), 654321u);  // as the description has it
    reqs = rig.Requests();
    ASSERT_EQ(reqs.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(reqs[i].Address32(), FlashAddress(28) + 100 * i);
        EXPECT_EQ(reqs[i].CountAfter(4), i < 5 ? 100 : 60);
    }

    rig.line.ClearLog();
    const void* stop = nullptr;
    rig.net.OnStopTimeHour = [&](const void* s) { stop = s; };
    rig.net.GetStopTimeHour();
    ASSERT_TRUE(rig.RunToEnd());
    ASSERT_EQ(stop, rig.net.GetStopTime());
    const auto* b = static_cast<const uint8_t*>(stop);
    EXPECT_EQ(Bytes(b, b + 16), rig.Ram(img.RamPointer(16), 16));
    EXPECT_EQ(GetU32(b), 3600u);
    EXPECT_EQ(rig.Requests().at(0).CountAfter(2), 16);
    EXPECT_TRUE(rig.CallerHoldsSlot());
    EXPECT_TRUE(rig.callerCalls.empty());
}

TEST(ErrorJournals, BlocksAndHeadsOfBothLayoutsComeFromTheirAddresses)
{
    MeterRig rig;
    Pattern(rig.image->flash, kErrors, 1376 + 8 * 800);
    TRurIvaQs_6x6& n = rig.net;
    int events = 0;
    const void* arg = nullptr;
    auto seen = [&](const void* p) {
        ++events;
        arg = p;
        EXPECT_TRUE(rig.CallerHoldsSlot());
    };
    n.OnErrorH1 = seen;
    n.OnErrorH1V2 = seen;
    n.OnErrorH6 = seen;
    n.OnErrorH6V2 = seen;
    n.OnError1 = seen;
    n.OnError1V2 = seen;
    n.OnError6 = seen;
    n.OnError6V2 = seen;

    auto heads = [&](const SHead* h, uint32_t offset, int count) {
        for (int k = 0; k < count; ++k)
            EXPECT_EQ(h[k].Value, static_cast<int16_t>(rig.image->flash.U16(kErrors + offset + 2u * k))) << k;
    };
    auto records = [&](const SErrorRecord* r, uint32_t offset) {
        for (uint32_t k = 0; k < 16; ++k) {
            EXPECT_EQ(r[k].Word[0], rig.image->flash.U32(kErrors + offset + 8 * k)) << k;
            EXPECT_EQ(r[k].Word[1], rig.image->flash.U32(kErrors + offset + 8 * k + 4)) << k;
        }
    };
    auto recordsV2 = [&](const SErrorRecordV2* r, uint32_t offset) {
        for (uint32_t k = 0; k < 16; ++k) {
            EXPECT_EQ(r[k].Word[0], rig.image->flash.U32(kErrors + offset + 10 * k)) << k;
            EXPECT_EQ(r[k].Word[1], rig.image->flash.U32(kErrors + offset + 10 * k + 4)) << k;
            EXPECT_EQ(r[k].Tail, rig.image->flash.U16(kErrors + offset + 10 * k + 8)) << k;
        }
    };
    struct Case {
        const char* name;
        std::function<void()> read;
        uint32_t offset;
        unsigned count;
        const void* record;  // what the event points at
        std::function<void()> check;
    };
    const Case cases[] = {
        {"GetErrorH1", [&] { n.GetErrorH1(); }, 0, 16, n.GetErrorHeads(), [&] { heads(n.GetErrorHeads(), 0, 8); }},
        {"GetErrorH1V2", [&] { n.GetErrorH1V2(); }, 0, 16, n.GetErrorHeadsV2(),
         [&] { heads(n.GetErrorHeadsV2(), 0, 8); }},
        {"GetErrorH6(3)", [&] { n.GetErrorH6(3); }, 1040 + 36, 12, n.GetErrorGroupHeads(3),
         [&] { heads(n.GetErrorGroupHeads(3), 1076, 6); }},
        {"GetErrorH6V2(7)", [&] { n.GetErrorH6V2(7); }, 1296 + 70, 10, n.GetErrorGroupHeadsV2(7),
         [&] { heads(n.GetErrorGroupHeadsV2(7), 1366, 5); }},
        {"GetErr1(5)", [&] { n.GetErr1(5); }, 16 + 640, 128, n.GetErrorBlock(5),
         [&] { records(n.GetErrorBlock(5), 656); }},
        {"GetErr1V2(7)", [&] { n.GetErr1V2(7); }, 16 + 1120, 160, n.GetErrorBlockV2(7),
         [&] { recordsV2(n.GetErrorBlockV2(7), 1136); }},
        {"GetErr6(2, 3)", [&] { n.GetErr6(2, 3); }, 3056, 128, n.GetErrorGroupBlock(2, 3),
         [&] { records(n.GetErrorGroupBlock(2, 3), 3056); }},
        {"GetErr6V2(7, 4)", [&] { n.GetErr6V2(7, 4); }, 7616, 160, n.GetErrorGroupBlockV2(7, 4),
         [&] { recordsV2(n.GetErrorGroupBlockV2(7, 4), 7616); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rig.line.ClearLog();
        events = 0;
        c.read();
        ASSERT_TRUE(rig.RunToEnd());
        const auto reqs = rig.Requests();
        ASSERT_EQ(reqs.size(), 1u);
        EXPECT_EQ(reqs[0].command, sim::cmd::kReadFlashLarge);
        EXPECT_EQ(reqs[0].Address32(), FlashAddress(173) + c.offset);
        EXPECT_EQ(reqs[0].CountAfter(4), c.count);
        EXPECT_EQ(events, 1);
        EXPECT_EQ(arg, c.record);
        c.check();
    }
}

TEST(ErrorJournals, AReadChangesOnlyTheRecordsItRead)
{
    MeterRig rig;  // layout 2: block 0 and block 2 of group 1 described
    TRurIvaQs_6x6& n = rig.net;
    n.GetErr1V2(0);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(n.GetErrorBlockV2(0)[2].Word[0], 0x0103u);
    EXPECT_EQ(n.GetErrorBlockV2(0)[2].Word[1], 0x60000003u);
    EXPECT_EQ(n.GetErrorBlockV2(0)[2].Tail, 3);
    n.GetErr6V2(1, 2);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(n.GetErrorGroupBlockV2(1, 2)[1].Word[1], 0x61000002u);
    n.GetErrorH6V2(1);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(n.GetErrorGroupHeadsV2(1)[2].Value, 2);

    // Group 7's heads change; group 6's, read before, and layout 1's stay as they were.
    for (uint32_t i = 0; i < 20; ++i) rig.image->flash.PutU8(kErrors + 1296 + 60 + i, static_cast<uint8_t>(0x40 + i));
    n.GetErrorH6V2(6);
    ASSERT_TRUE(rig.RunToEnd());
    for (uint32_t i = 0; i < 20; ++i) rig.image->flash.PutU8(kErrors + 1296 + 60 + i, static_cast<uint8_t>(0x80 + i));
    n.GetErrorH6V2(7);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(n.GetErrorGroupHeadsV2(6)[0].Value, 0x4140);
    EXPECT_EQ(n.GetErrorGroupHeadsV2(6)[4].Value, 0x4948);
    EXPECT_EQ(n.GetErrorGroupHeadsV2(7)[0].Value, static_cast<int16_t>(0x8B8A));
    EXPECT_EQ(n.GetErrorGroupHeadsV2(7)[4].Value, static_cast<int16_t>(0x9392));
    EXPECT_EQ(n.GetErrorGroupHeadsV2(1)[2].Value, 2);
    for (int g = 0; g < 8; ++g)
        for (int k = 0; k < 6; ++k) EXPECT_EQ(n.GetErrorGroupHeads(g)[k].Value, 0);
}

TEST(Clearing, ClearHeadZeroesTheHeadsInThirtyFiveWritesAndRaisesOnce)
{
    MeterRig rig;
    Pattern(rig.image->flash, kErrors, 1500);
    Pattern(rig.image->flash, kEvents, 40);
    std::vector<int> done;
    rig.net.OnClearHead = [&](int8_t data) {
        done.push_back(data);
        EXPECT_EQ(rig.meter.RequestCount(sim::cmd::kWriteFlashLarge), 35u);
        EXPECT_TRUE(rig.CallerHoldsSlot());
    };
    rig.net.ClearHead();
    ASSERT_TRUE(rig.RunToEnd());
    rig.loop.RunFor(5000);
    EXPECT_EQ(done, std::vector<int>{0});

    const auto w = rig.Requests();
    ASSERT_EQ(w.size(), 35u);
    for (const SentRequest& r : w) EXPECT_EQ(r.command, sim::cmd::kWriteFlashLarge);
    EXPECT_EQ(w[0].Address32(), FlashAddress(173));
    EXPECT_EQ(w[0].CountAfter(4), 16);
    for (uint32_t k = 0; k < 33; ++k) {
        EXPECT_EQ(w[1 + k].Address32(), FlashAddress(173) + 1040 + 12 * k) << k;
        EXPECT_EQ(w[1 + k].CountAfter(4), 12) << k;
    }
    EXPECT_EQ(w[34].Address32(), FlashAddress(174));
    EXPECT_EQ(w[34].CountAfter(4), 16);

    EXPECT_EQ(rig.Flash(kErrors, 16), Bytes(16, 0));
    EXPECT_EQ(rig.Flash(kErrors + 1040, 396), Bytes(396, 0));
    EXPECT_EQ(rig.Flash(kEvents, 16), Bytes(16, 0));
    // Only those: the blocks between and the bytes after are kept.
    EXPECT_NE(rig.Flash(kErrors + 16, 1024), Bytes(1024, 0));
    EXPECT_NE(rig.image->flash.U8(kErrors + 1436), 0);
    EXPECT_NE(rig.Flash(kEvents + 16, 24), Bytes(24, 0));
}

TEST(Clearing, SumsAreZeroedInWritesOfAtMost100Bytes)
{
    MeterRig rig;
    Pattern(rig.image->flash, 0x2100, 0x800);
    struct Case {
        const char* name;
        std::function<void()> clear;
        TRurIvaQs_6x6::TDataEvent* event;
        int entry;
        std::vector<unsigned> sizes;
    };
    const Case cases[] = {
        {"ClearSummDay", [&] { rig.net.ClearSummDay(); }, &rig.net.OnClearSummDay, 27, {100, 100, 100, 28}},
        {"ClearAllSumm", [&] { rig.net.ClearAllSumm(); }, &rig.net.OnClearAllSumm, 28, {100, 100, 100, 100, 100, 60}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rig.line.ClearLog();
        std::vector<int> done;
        *c.event = [&](int8_t data) {
            done.push_back(data);
            EXPECT_TRUE(rig.CallerHoldsSlot());
        };
        c.clear();
        ASSERT_TRUE(rig.RunToEnd());
        EXPECT_EQ(done, std::vector<int>{-1});
        const auto w = rig.Requests();
        ASSERT_EQ(w.size(), c.sizes.size());
        uint32_t total = 0;
        for (size_t i = 0; i < w.size(); ++i) {
            EXPECT_EQ(w[i].Address32(), FlashAddress(c.entry) + total) << i;
            EXPECT_EQ(w[i].CountAfter(4), c.sizes[i]) << i;
            total += c.sizes[i];
        }
        EXPECT_EQ(rig.Flash(FlashAddress(c.entry), total), Bytes(total, 0));
        EXPECT_NE(rig.image->flash.U8(FlashAddress(c.entry) + total), 0);
    }
    EXPECT_TRUE(rig.callerCalls.empty());
}

}  // namespace
}  // namespace rv::test
