// The record images: fields at their offsets, texts bounded by their fields, module fields that fall outside
// the configuration record, the choices of the sensor dialogs; the read chain's steps and bounds; the number
// texts of the protocol.
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/MainRig.h"
#include "app/window/MeterImages.h"
#include "app/window/ProtocolFormat.h"
#include "app/window/TConfigReadChain.h"
#include "core/Cp1251.h"
#include "meter/TRurIvaQs_6x6.h"

namespace rv::test {
namespace {

void PutF32(TSensorImage& image, size_t offset, float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int k = 0; k < 4; ++k) image[offset + static_cast<size_t>(k)] = static_cast<uint8_t>(bits >> (8 * k));
}

void PutText(TSensorImage& image, size_t offset, const std::string& utf8)
{
    const std::string bytes = ToCp1251(utf8);
    std::memcpy(image.data() + offset, bytes.data(), bytes.size());
}

TSensorImage Sensor(uint8_t type, uint8_t module, float diameter, bool present = true)
{
    TSensorImage image{};
    image[120] = present ? 1 : 0;
    image[122] = type;
    image[123] = module;
    PutF32(image, 186, diameter);
    return image;
}

TEST(SensorRecord, DecodesEveryFieldAtItsOffset)
{
    TSensorImage image = Sensor(2, 3, 0.065f);
    PutText(image, 130, "А-17");
    PutText(image, 140, "80");
    PutText(image, 160, "1,0001");
    PutF32(image, 170, 80.0f);
    PutF32(image, 178, 1.0001f);
    PutF32(image, 194, 0.06f);
    for (int k = 0; k < 5; ++k)
        for (int j = 0; j < 3; ++j)
            PutF32(image, 198 + 12 * static_cast<size_t>(k) + 4 * static_cast<size_t>(j), k * 10.0f + j);
    for (int j = 0; j < 4; ++j) PutF32(image, 258 + 4 * static_cast<size_t>(j), 100.0f + j);
    const SSensorRecord r = SSensorRecord::Decode(image);
    EXPECT_TRUE(r.Present);
    EXPECT_EQ(r.Type, 2);
    EXPECT_EQ(r.Module, 3);
    EXPECT_EQ(r.Serial, "А-17");
    EXPECT_EQ(r.QVmax, "80");
    EXPECT_EQ(r.KfsText, "1,0001");
    EXPECT_EQ(r.NominalMax, 80.0f);
    EXPECT_EQ(r.KfsValue, 1.0001f);
    EXPECT_EQ(r.Diameter, 0.065f);
    EXPECT_EQ(r.Diameter2, 0.06f);
    EXPECT_EQ(r.Correction[4][2], 42.0f);
    EXPECT_EQ(r.Correction[1][0], 10.0f);
    EXPECT_EQ(r.Thresholds[3], 103.0f);
}

// A text that fills its field without a terminating zero ends at the field's end, not in the next field.
TEST(SensorRecord, TextsEndAtTheirFieldsEnd)
{
    TSensorImage image = Sensor(1, 1, 0.05f);
    std::memset(image.data() + 130, '7', 10);
    std::memset(image.data() + 140, '8', 20);
    std::memset(image.data() + 160, '9', 10);
    PutF32(image, 170, 50.0f);
    const SSensorRecord r = SSensorRecord::Decode(image);
    EXPECT_EQ(r.Serial, std::string(10, '7'));
    EXPECT_EQ(r.QVmax, std::string(20, '8'));
    EXPECT_EQ(r.KfsText, std::string(10, '9'));

    // A line break from the meter cannot split a protocol line.
    PutText(image, 130, "12\r\n34");
    EXPECT_EQ(SSensorRecord::Decode(image).Serial, "12??347777");
}

TEST(ConfigRecord, ModuleFieldsInsideTheRecordOnly)
{
    TConfigImage config{};
    config[2 + 50 * 7] = 0x34;
    config[3 + 50 * 7] = 0x12;
    config[379 + 7] = 4;
    config[32] = 3;
    EXPECT_EQ(PathsPerSensorOf(config), 3);
    EXPECT_EQ(ExecutionOf(config, 7), 0x1234);
    EXPECT_EQ(TableSetOf(config, 7), 4);
    // Module 8 has its execution at 402 and 403, beyond the 392 bytes; its table set at 387 would fit.
    EXPECT_FALSE(ExecutionOf(config, 8).has_value());
    EXPECT_TRUE(TableSetOf(config, 8).has_value());
    EXPECT_FALSE(TableSetOf(config, 13).has_value());
    EXPECT_FALSE(ExecutionOf(config, -1).has_value());
    EXPECT_FALSE(TableSetOf(config, 255).has_value());
}

TEST(SensorChoices, OffersPresentSensorsAtTheStrideOfThePaths)
{
    CommaSeparator comma;
    TSensorImages sensors{};
    for (int i = 0; i < 6; ++i) sensors[static_cast<size_t>(i)] = Sensor(static_cast<uint8_t>(1 + i % 4), 1, 0.05f);
    sensors[4][120] = 0;

    const auto one = SensorChoices(sensors, 1);
    ASSERT_EQ(one.size(), 5u);
    EXPECT_EQ(one[0].Position, 0);
    EXPECT_EQ(one[4].Position, 5);
    EXPECT_EQ(one[0].Caption, "Модуль №1 FSA Диаметр 0,050");
    EXPECT_EQ(one[1].Caption, "Модуль №1 FSB Диаметр 0,050");
    EXPECT_EQ(one[2].Caption, "Модуль №1 FSC Диаметр 0,050");
    EXPECT_EQ(one[3].Caption, "Модуль №1  Диаметр 0,050");  // type 4 has no name

    const auto three = SensorChoices(sensors, 3);
    ASSERT_EQ(three.size(), 2u);
    EXPECT_EQ(three[0].Position, 0);
    EXPECT_EQ(three[1].Position, 3);
    sensors[3][120] = 0;
    EXPECT_EQ(SensorChoices(sensors, 3).size(), 1u);

    for (int paths : {0, 2, 4, 255}) EXPECT_TRUE(SensorChoices(sensors, paths).empty()) << paths;
}

TEST(ProtocolFormat, ScientificTextOfTheTransitTime)
{
    CommaSeparator comma;
    EXPECT_EQ(ExponentText(1.234e-4, 4, 4), "1,234E-0004");
    EXPECT_EQ(ExponentText(0.0012614, 4, 4), "1,261E-0003");
    EXPECT_EQ(ExponentText(1500.0, 4, 4), "1,500E+0003");
    EXPECT_EQ(ExponentText(-9.99951e-6, 4, 4), "-1,000E-0005");
    EXPECT_EQ(ExponentText(0.0, 4, 4), "0,000E+0000");
    EXPECT_EQ(ExponentText(1e300, 4, 4), "1,000E+0300");
    SetDecimalSeparator('.');
    EXPECT_EQ(ExponentText(1.234e-4, 4, 4), "1.234E-0004");
}

TEST(ProtocolFormat, FixedTextShowsNoNegativeZero)
{
    CommaSeparator comma;
    EXPECT_EQ(FixedText(-0.0004, 3), "0,000");
    EXPECT_EQ(FixedText(-0.0006, 3), "-0,001");
    EXPECT_EQ(FixedText(12.14356, 4), "12,1436");
    EXPECT_EQ(FixedText(25.0000004, 0), "25");
}

// The chain against the simulated meter on its own engine: what it stores and what it asks for next.
class ReadChain : public ::testing::Test {
protected:
    ReadChain() : image(sim::DefaultMeter()), meter(image), line(meter, &loop), net(nullptr, &loop)
    {
        net.SetDeviceComm(&line);
        net.SetMasterNetAddress(0xF0);
        net.SetSlaveNetAddress(0xC9);
        net.SetReceiving_back(true);
    }
    // Runs the chain to its end, passing every answer through `filter` first.
    void RunChain(TConfigReadChain& chain, std::function<void(int step, short& length)> filter = {})
    {
        bool done = false;
        net.OnReceiveExecuted = [&](short Length, unsigned char* Buffer) {
            if (filter) filter(chain.ReadStep(), Length);
            if (chain.Receive(net, Length, Buffer) == rpSensorsRead) done = true;
        };
        chain.Start(net);
        ASSERT_TRUE(loop.RunUntil([&] { return done; }, 60'000));
    }
    std::vector<uint8_t> Flash(uint32_t addr, size_t n) const { return FlashBytes(*image, addr, n); }

    VirtualLoop loop;
    std::shared_ptr<sim::MeterImage> image;
    sim::SimMeter meter;
    sim::MemoryLine line;
    TRurIvaQs_6x6 net;
};

TEST_F(ReadChain, KeepsWhatEachWindowKeepsAndNothingAfterTheSixthRecord)
{
    TConfigReadChain full;
    RunChain(full);
    EXPECT_EQ(full.ReadStep(), TConfigReadChain::kDone);
    EXPECT_EQ(std::vector<uint8_t>(full.ConfigImage().begin(), full.ConfigImage().end()), Flash(0x100, 392));
    EXPECT_EQ(std::vector<uint8_t>(full.SensorImage()[3].begin(), full.SensorImage()[3].end()),
              Flash(sim::layout::SensorAddress(3), 310));

    // The KFS window keeps bytes 0..199 of each record; the third read of each is taken and dropped.
    TConfigReadChain head(200);
    RunChain(head);
    const auto& s0 = head.SensorImage()[0];
    const std::vector<uint8_t> flash = Flash(sim::layout::SensorAddress(0), 310);
    EXPECT_TRUE(std::equal(s0.begin(), s0.begin() + 200, flash.begin()));
    EXPECT_TRUE(std::all_of(s0.begin() + 200, s0.end(), [](uint8_t b) { return b == 0; }));

    // Once done, an answer changes nothing and sends nothing.
    const size_t writes = line.Writes().size();
    unsigned char junk[100];
    std::memset(junk, 0xAB, sizeof junk);
    EXPECT_EQ(full.Receive(net, 100, junk), rpNothing);
    loop.RunFor(1000);
    EXPECT_EQ(line.Writes().size(), writes);
    EXPECT_EQ(full.ConfigImage()[0], Flash(0x100, 1)[0]);
}

TEST_F(ReadChain, AnswersOfAnotherLengthAreRefusedAndTheReadRepeated)
{
    // Every step once gets an answer one byte short, and once one byte long, before the right one.
    std::vector<int> refused;
    net.OnFalseCRC = [&](TObject*) { refused.push_back(0); };
    int answers = 0;
    TConfigReadChain chain;
    chain.ConfigImage().fill(0x5A);
    RunChain(chain, [&](int, short& length) {
        const int turn = answers++ % 3;
        if (turn == 0) --length;
        if (turn == 1) ++length;
    });
    EXPECT_EQ(answers, 3 * 21);
    EXPECT_EQ(refused.size(), 2u * 21);
    EXPECT_EQ(net.GetRepetitionCounter(), 2 * 21);
    EXPECT_EQ(std::vector<uint8_t>(chain.ConfigImage().begin(), chain.ConfigImage().end()), Flash(0x100, 392));
    EXPECT_EQ(std::vector<uint8_t>(chain.SensorImage()[5].begin(), chain.SensorImage()[5].end()),
              Flash(sim::layout::SensorAddress(5), 310));
}

}  // namespace
}  // namespace rv::test
