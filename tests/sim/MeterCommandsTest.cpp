// The simulated meter's own commands and the archives, totals and error journals of a description.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/Frame.h"
#include "sim/MeterCommands.h"
#include "sim/MeterDescription.h"
#include "sim/MeterExchange.h"
#include "sim/MeterFileErrorOf.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

using namespace rv;
using namespace rv::sim;
using rv::test::Ask;
using rv::test::ErrorOf;
using rv::test::Payload;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ArchiveRead(uint32_t addr, uint8_t bytes, uint8_t width)
{
    Bytes p(6);
    PutU32(p.data(), addr);
    p[4] = bytes;
    p[5] = width;
    return p;
}

}  // namespace

TEST(MeterCommands, ArchiveReadStridesByTheRecordSizeOfTheRingAtTheAddress)
{
    SimMeter meter(DefaultMeter());
    MeterImage& img = meter.Image();
    // The default meter's day ring at 0xE4F0 keeps 4-byte values in 6-byte records.
    ASSERT_EQ(img.RecordSizeAt(0xE4F0 + 60, 4), 6u);
    const Bytes got = Payload(Ask(meter, cmd::kReadArchive, ArchiveRead(0xE4F0 + 6 * 10, 12, 4)));
    ASSERT_EQ(got.size(), 12u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(GetU32(got.data() + 4 * i), img.flash.U32(0xE4F0 + 6 * (10 + i)));
        EXPECT_EQ(static_cast<int32_t>(GetU32(got.data() + 4 * i)), -20 + 5 * static_cast<int32_t>(10 + i));
    }
    // Outside every ring the values lie densely; a byte count that is not a multiple of the width
    // brings the whole values only.
    img.flash.PutU32(0x30000, 0x11223344);
    img.flash.PutU32(0x30004, 0x55667788);
    EXPECT_EQ(Payload(Ask(meter, cmd::kReadArchive, ArchiveRead(0x30000, 7, 2))),
              (Bytes{0x44, 0x33, 0x22, 0x11, 0x88, 0x77}));
    // Past the end of flash the meter reads 0xFF, as an unprogrammed region does.
    img.flash.PutU16(layout::kFlashSize - 2, 0x2211);
    EXPECT_EQ(Payload(Ask(meter, cmd::kReadArchive, ArchiveRead(layout::kFlashSize - 2, 4, 4))),
              (Bytes{0x11, 0x22, 0xFF, 0xFF}));
    // Parameters that do not fit the command are not answered.
    EXPECT_TRUE(Ask(meter, cmd::kReadArchive, ArchiveRead(0x30000, 8, 0)).empty());
    EXPECT_TRUE(Ask(meter, cmd::kReadArchive, ArchiveRead(0x30000, 251, 1)).empty());
    EXPECT_TRUE(Ask(meter, cmd::kReadArchive, {0, 0, 0, 0, 8}).empty());
}

TEST(MeterCommands, MeasurementCommandsAreAcknowledgedAndNoted)
{
    SimMeter meter(DefaultMeter());
    const MeterCommandState& s = meter.Image().meterCommands;
    EXPECT_EQ(Ask(meter, cmd::kSaveData, {2}), Bytes{kAckOk});
    EXPECT_EQ(Ask(meter, cmd::kStartFlowCalculation, {5}), Bytes{kAckOk});
    EXPECT_EQ(Ask(meter, cmd::kStartFlowCalculation, {7}), Bytes{kAckOk});
    EXPECT_EQ(Ask(meter, cmd::kStartTermCalculation, {}), Bytes{kAckOk});
    EXPECT_EQ(Ask(meter, cmd::kAnalogStart, {4}), Bytes{kAckOk});
    EXPECT_TRUE(s.analogueRunning);
    EXPECT_EQ(Payload(Ask(meter, cmd::kAnalogRead, {0x10, 0x20, 3})), (Bytes{0x10, 0x20, 3, 4}));
    EXPECT_EQ(Ask(meter, cmd::kAnalogEnd, {}), Bytes{kAckOk});
    EXPECT_FALSE(s.analogueRunning);
    EXPECT_EQ(s.saves, 1u);
    EXPECT_EQ(s.lastSaveChannel, 2);
    EXPECT_EQ(s.flowCalculations, 2u);
    EXPECT_EQ(s.flowChannelMask, 7);
    EXPECT_EQ(s.termCalculations, 1u);
    EXPECT_EQ(Payload(Ask(meter, cmd::kPressData, {})), meter.Image().pressData);
    EXPECT_EQ(Payload(Ask(meter, cmd::kTestArchive, {1, 2, 3, 4, 5, 6, 7})), (Bytes{1, 2, 3, 4, 5, 6, 7}));
    // A wrong parameter count is not answered and changes nothing.
    EXPECT_TRUE(Ask(meter, cmd::kStartFlowCalculation, {}).empty());
    EXPECT_TRUE(Ask(meter, cmd::kSaveData, {1, 2}).empty());
    EXPECT_TRUE(Ask(meter, cmd::kTestArchive, {1}).empty());
    EXPECT_EQ(s.flowCalculations, 2u);
    EXPECT_EQ(s.saves, 1u);
}

TEST(MeterCommands, RingsHoldTheNewestRecordsInTheirSlots)
{
    MeterDescription d;
    d.hourRecords = 1085;
    d.dayRecords = 3;
    d.archives = {{true, 0x10000, 4, 2, 100, 2, {}}, {false, 0x20000, 4, 4, 0, 1, {-1, -2}}};
    const auto m = BuildMeter(d);
    // Record k in slot k mod 1080: records 5..1084 are held, slot 0 has record 1080.
    EXPECT_EQ(m->flash.U16(0x10000), 100 + 2 * 1080);
    EXPECT_EQ(m->flash.U16(0x10000 + 4 * 4), 100 + 2 * 1084);
    EXPECT_EQ(m->flash.U16(0x10000 + 4 * 5), 100 + 2 * 5);
    EXPECT_EQ(m->flash.U16(0x10000 + 4 * 1079), 100 + 2 * 1079);
    EXPECT_EQ(m->flash.U16(0x10000 + 2), kArchiveFiller * 0x101);  // the rest of the record
    // Three day records, the newest two given: record 0 from the rule, then -1 and -2.
    EXPECT_EQ(m->flash.U32(0x20000), 0u);
    EXPECT_EQ(static_cast<int32_t>(m->flash.U32(0x20004)), -1);
    EXPECT_EQ(static_cast<int32_t>(m->flash.U32(0x20008)), -2);
    EXPECT_EQ(m->flash.U32(0x2000C), 0u);  // never written
    EXPECT_EQ(m->flash.U32(layout::kArchivePointers + 4), 1085u);
    EXPECT_EQ(m->flash.U32(layout::kArchivePointers + 8), 3u);
    EXPECT_EQ(m->archiveRings.size(), 2u);
    EXPECT_EQ(m->RecordSizeAt(0x10000 + 1080 * 4 - 1, 2), 4u);
    EXPECT_EQ(m->RecordSizeAt(0x10000 + 1080 * 4, 2), 2u);
}

TEST(MeterCommands, TotalsAndErrorJournalsLandWhereTheMeterKeepsThem)
{
    const char* tmpl = R"({"identity": {"softwareVersion": %d},
        "totals": {"allSums": [1, "0x02"], "daySums": [3], "checkEditCounters": [4], "hourSums": [5],
                   "stopTime": [6, 7]},
        "errorJournal": [{"block": 7, "records": [[1, 2, 3]]},
                         {"group": 2, "block": 4, "head": -3, "records": [[8, 9, 10], [11, 12]]}],
        "pressData": "01 02"})";
    for (int version : {199, 203}) {
        char json[1024];
        std::snprintf(json, sizeof json, tmpl, version);
        const auto m = ParseMeter(json);
        const bool v2 = version >= 200;
        using namespace layout;
        EXPECT_EQ(m->flash.U32(kAllSums + 4), 2u);
        EXPECT_EQ(m->flash.U32(kDaySums), 3u);
        EXPECT_EQ(m->flash.U32(kCheckEditCounters), 4u);
        EXPECT_EQ(m->ram.U32(m->RamPointer(ram::kHourSumsWord)), 5u);
        EXPECT_EQ(m->ram.U32(m->RamPointer(ram::kStopTimeWord) + 4), 7u);
        EXPECT_EQ(m->pressData, (Bytes{1, 2}));

        const uint32_t e = kErrorJournals;
        EXPECT_EQ(m->flash.U16(e + 14), 1);
        const uint32_t block7 = e + 16 + (v2 ? 160 : 128) * 7;
        EXPECT_EQ(m->flash.U32(block7 + 4), 2u);
        EXPECT_EQ(m->flash.U16(block7 + 8), v2 ? 3 : 0);  // layout 1 has no closing word
        const uint32_t groupHead = e + (v2 ? 1296 + 10 * 2 : 1040 + 12 * 2) + 2 * 4;
        EXPECT_EQ(static_cast<int16_t>(m->flash.U16(groupHead)), -3);
        const uint32_t record1 = e + (v2 ? 1376 + 800 * 2 + 160 * 4 + 10 : 1136 + 768 * 2 + 128 * 4 + 8);
        EXPECT_EQ(m->flash.U32(record1), 11u) << version;
    }
}

TEST(MeterCommands, BadArchiveAndJournalDescriptionsSayWhereAndWhat)
{
    struct Case {
        const char* json;
        const char* expect;
    };
    const Case cases[] = {
        {R"({"archives": {"rings": [{"ring": "week"}]}})", "archives.rings[0].ring"},
        {R"({"archives": {"rings": [{"width": 3}]}})", "width"},
        {R"({"archives": {"rings": [{"width": 4, "recordSize": 2}]}})", "recordSize"},
        {R"({"archives": {"rings": [{"address": "0x7FFF0"}]}})", "do not fit the flash"},
        {R"({"archives": {"dayRecords": 1, "rings": [{"ring": "day", "values": [1, 2]}]}})", "values"},
        {R"({"archives": {"rings": [{"colour": 1}]}})", "unknown key"},
        {R"({"totals": {"stopTime": [1, 2, 3, 4, 5]}})", "totals.stopTime"},
        {R"({"identity": {"softwareVersion": 200}, "errorJournal": [{"group": 0, "block": 5}]})", "errorJournal[0].block"},
        {R"({"errorJournal": [{"block": 1}, {"block": 1}]})", "described twice"},
        {R"({"errorJournal": [{"block": 1, "records": [[1]]}]})", "records[0]"},
        {R"({"pressData": "0"})", "pressData"},
    };
    for (const Case& c : cases) {
        const std::string e = ErrorOf(c.json);
        EXPECT_NE(e.find(c.expect), std::string::npos) << c.json << " -> " << e;
    }
}
