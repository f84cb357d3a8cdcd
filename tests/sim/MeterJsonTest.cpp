// Meter descriptions: the shipped default file, the built-in meter, and the errors of bad files.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/MeterFileErrorOf.h"

using namespace rv;
using namespace rv::sim;
using rv::test::ErrorOf;

namespace {

const std::string kDefaultFile = std::string(RIVANTA_SIM_METERS) + "/default.json";

}  // namespace

TEST(MeterJson, DefaultFileIsTheBuiltInMeter)
{
    const auto fromFile = LoadMeter(kDefaultFile);
    const auto builtIn = DefaultMeter();
    EXPECT_TRUE(fromFile->flash == builtIn->flash);
    EXPECT_TRUE(fromFile->ram == builtIn->ram);
    EXPECT_TRUE(*fromFile == *builtIn);
}

TEST(MeterJson, DefaultMeterIsConsistent)
{
    const auto m = DefaultMeter();
    using namespace layout;
    EXPECT_EQ(m->DeviceCode() >> 8, 20);
    EXPECT_GE(m->SoftwareVersion(), 200);
    EXPECT_EQ(m->flash.U8(kConfig + config::kPathsPerSensor), 1);
    EXPECT_TRUE(m->EmulatorMode());
    EXPECT_FALSE(m->Status() & kStatusCorrectionMode);
    int present = 0;
    for (int i = 0; i < kSensorCount; ++i) {
        const uint32_t s = SensorAddress(i);
        if (!m->flash.U8(s + sensor::kPresent)) continue;
        ++present;
        const int module = m->flash.U8(s + sensor::kModule);
        EXPECT_LE(module, config::kMaxModule);
        EXPECT_LE(m->flash.U8(kConfig + config::kTableSet + static_cast<uint32_t>(module)), 4);
        // The QVmax text and the nominal maximum agree; the KFS text shows the KFS float.
        EXPECT_EQ(std::stof(m->flash.Text(s + sensor::kQvmax, sensor::kQvmaxLen)),
                  m->flash.F32(s + sensor::kNominalMax));
        std::string kfs = m->flash.Text(s + sensor::kKfsText, sensor::kKfsTextLen);
        kfs.replace(kfs.find(','), 1, ".");
        EXPECT_NEAR(std::stod(kfs), m->flash.F32(s + sensor::kKfs), 1e-6);
        EXPECT_GT(m->flash.F32(s + sensor::kDiameter), 0.0f);
    }
    EXPECT_GE(present, 3);
    // Every RAM block behind the pointer table lies inside RAM and no two overlap.
    const int words[] = {ram::kDeviceFlagsWord, ram::kFlagsWord, ram::kLastMeasureWord, ram::kEmulatorWord,
                         ram::kHourSumsWord};
    const size_t sizes[] = {ram::kDeviceFlagsSize, ram::kFlagsSize, ram::kLastMeasureSize, ram::kEmulatorSize,
                            ram::kHourSumsSize};
    for (size_t a = 0; a < std::size(words); ++a)
        for (size_t b = a + 1; b < std::size(words); ++b) {
            const uint32_t pa = m->RamPointer(words[a]), pb = m->RamPointer(words[b]);
            EXPECT_TRUE(pa + sizes[a] <= pb || pb + sizes[b] <= pa) << words[a] << " overlaps " << words[b];
        }
}

TEST(MeterJson, FieldsLandAtTheirOffsets)
{
    const auto m = ParseMeter(R"({
        "identity": {"serialNumber": 777, "softwareVersion": 199, "status": 2},
        "slaveAddress": 7, "moduleCount": -1, "echo": false,
        "configuration": {"pathsPerSensor": 3, "modules": [{"number": 2, "execution": 12, "tableSet": 4}]},
        "sensors": [{"position": 3, "type": 3, "module": 2, "serial": "Ж-12", "kfs": 0.5, "diameter": 0.15,
                     "correction": [[1, 2, 3]], "thresholds": [9]}],
        "ram": {"emulatorMode": false},
        "flashBytes": [{"address": "0x2000", "hex": "de ad BE EF"}],
        "ramBytes": [{"address": 16, "hex": "01:02"}]
    })");
    using namespace layout;
    EXPECT_EQ(m->SerialNumber(), 777u);
    EXPECT_EQ(m->SoftwareVersion(), 199);
    EXPECT_EQ(m->Status(), 2);
    EXPECT_EQ(m->slaveAddress, 7);
    EXPECT_EQ(m->moduleCount, -1);
    EXPECT_FALSE(m->options.echo);
    EXPECT_EQ(m->flash.U8(kConfig + 32), 3);
    EXPECT_EQ(m->flash.U16(kConfig + 2 + 100), 12);
    EXPECT_EQ(m->flash.U8(kConfig + 379 + 2), 4);
    const uint32_t s = SensorAddress(3);
    EXPECT_EQ(m->flash.U8(s + 120), 1);
    EXPECT_EQ(m->flash.U8(s + 122), 3);
    EXPECT_EQ(m->flash.U8(s + 123), 2);
    EXPECT_EQ(m->flash.U8(s + 130), 0xC6);  // Ж in code page 1251
    EXPECT_EQ(m->flash.Text(s + 130, 10), "Ж-12");
    EXPECT_EQ(m->flash.F32(s + 178), 0.5f);
    EXPECT_EQ(m->flash.F32(s + 186), 0.15f);
    EXPECT_EQ(m->flash.F32(s + 198 + 8), 3.0f);
    EXPECT_EQ(m->flash.F32(s + 258), 9.0f);
    EXPECT_EQ(m->flash.U8(SensorAddress(0) + 120), 0);
    EXPECT_FALSE(m->EmulatorMode());
    EXPECT_EQ(m->flash.U32(0x2000), 0xEFBEADDEu);
    EXPECT_EQ(m->ram.U16(16), 0x0201);
}

TEST(MeterJson, JournalRecordsFollowTheLayoutOfTheSoftwareVersion)
{
    const char* tmpl = R"({"identity": {"softwareVersion": %d},
        "eventJournal": [{"number": 3, "records": [{}, {"code": 1, "oldValue": 2.5, "newValue": 3, "tail": 7}]},
                         {"number": 5, "head": 17}]})";
    for (int version : {199, 200}) {
        char json[512];
        std::snprintf(json, sizeof json, tmpl, version);
        const auto m = ParseMeter(json);
        const bool v2 = version >= 200;
        const uint32_t base = layout::kEventJournal;
        EXPECT_EQ(m->flash.U16(base + 6), 2);
        EXPECT_EQ(m->flash.U16(base + 10), 17);
        const uint32_t slot1 = base + 16 + (v2 ? 288 : 256) * 3 + (v2 ? 18 : 16);
        EXPECT_EQ(m->flash.U8(slot1 - (v2 ? 18 : 16)), 0x90) << version;
        EXPECT_EQ(m->flash.U8(slot1), 1) << version;
        EXPECT_EQ(m->flash.F32(slot1 + 8), 2.5f);
        EXPECT_EQ(m->flash.F32(slot1 + 12), 3.0f);
        EXPECT_EQ(m->flash.U16(slot1 + 16), v2 ? 7 : 0);  // layout 1 has no closing word
    }
}

TEST(MeterJson, BadDescriptionsSayWhereAndWhat)
{
    struct Case {
        const char* json;
        const char* expect;  // a part of the message
    };
    const Case cases[] = {
        {R"({"sensors": [{"serial": "1234567890"}]})", "sensors[0].serial: text \"1234567890\" takes 10 bytes"},
        {R"({"sensors": [{"kfsText": "ЖЖЖЖЖЖЖЖЖЖ"}]})", "sensors[0].kfsText"},
        {R"({"sensors": [{"colour": 1}]})", "sensors[0].colour: unknown key"},
        {R"({"identiti": {}})", "identiti: unknown key"},
        {R"({"identity": {"softwareVersion": 70000}})", "identity.softwareVersion: 70000 is outside 0..65535"},
        {R"({"identity": {"serialNumber": "12x"}})", "identity.serialNumber: \"12x\" is not a whole number"},
        {R"({"identity": {"serialNumber": 1.5}})", "expected a whole number"},
        {R"({"slaveAddress": 239})", "slaveAddress: 239 is outside 1..238"},
        {R"({"sensors": [{"position": 6}]})", "sensors[0].position: 6 is outside 0..5"},
        {R"({"sensors": [{"position": 1}, {"position": 1}]})", "position 1 is described twice"},
        {R"({"sensors": [{}, {}, {}, {}, {}, {}, {}]})", "sensors: 7 entries; at most 6 fit"},
        {R"({"sensors": [{"kfs": 1e50}]})", "does not fit a 32-bit float"},
        {R"({"sensors": [{"correction": [[1, 2]]}]})", "three coefficients"},
        {R"({"configuration": {"modules": [{"number": 8}]}})", "number: 8 is outside 0..7"},
        {R"({"ramPointers": [1, 2]})", "ramPointers: the table has 17 words"},
        {R"({"ramPointers": [0,0,0,0,0,0,"0xFFF0",0,0,0,0,0,0,0,0,0,0]})", "ramPointers[6]: the 152-byte block"},
        {R"({"flashBytes": [{"address": "0x7FFFF", "hex": "01 02"}]})", "flashBytes[0]: 2 bytes at 0x7FFFF do not fit"},
        {R"({"ramBytes": [{"address": 0, "hex": "0"}]})", "ramBytes[0].hex: odd number of hex digits"},
        {R"({"ramBytes": [{"address": 0, "hex": "zz"}]})", "'z' at position 0 is not a hex digit"},
        {R"({"ramBytes": [{"hex": "00"}]})", "ramBytes[0].address: missing"},
        {R"({"ram": {"emulatorBlock": "00"}})", "ram.emulatorBlock: 1 bytes; the block has 8"},
        {R"({"echo": 1})", "echo: expected true or false"},
        {R"({"eventJournal": [{"number": 8}]})", "eventJournal[0].number: 8 is outside 0..7"},
        {R"({"eventJournal": [{"records": [{"colour": 1}]}]})", "eventJournal[0].records[0].colour: unknown key"},
        {R"({"eventJournal": [{}, {"number": 0}]})", "journal 0 is described twice"},
        {R"([1, 2])", "expected an object"},
        {"{\"identity\": {\n  \"serialNumber\": 1,\n}}", "not valid JSON"},
    };
    for (const Case& c : cases) {
        const std::string e = ErrorOf(c.json);
        EXPECT_NE(e.find(c.expect), std::string::npos) << c.json << "\n  gave: " << e;
        EXPECT_EQ(e.rfind("test.json: ", 0), 0u) << e;
    }
    // A syntax error names its line.
    EXPECT_NE(ErrorOf("{\n\n  \"echo\": tru, \"x\": 1\n}").find("line 3"), std::string::npos);
}

TEST(MeterJson, FilesThatCannotBeReadSaySo)
{
    try {
        LoadMeter("/nonexistent/meter.json");
        FAIL();
    } catch (const MeterFileError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/meter.json: cannot be read"), std::string::npos);
    }
    const std::string empty = testing::TempDir() + "empty-meter.json";
    std::ofstream(empty).close();
    EXPECT_THROW(LoadMeter(empty), MeterFileError);
    std::remove(empty.c_str());
}
