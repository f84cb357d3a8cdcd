// The engine against the simulated meter on the in-memory line, in virtual time: identity and reads,
// a read chain through dropped answers and spoilt checksums, and the line time of a configuration
// read at 4800 baud.
#include <cstdio>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "core/VirtualLoop.h"
#include "fakes/MemoryLineSupport.h"
#include "protocol/TRurIvaQs.h"
#include "sim/MemoryLine.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace rv {
namespace {

using test::Bytes;

class WithSim : public ::testing::Test {
protected:
    explicit WithSim(sim::FaultPlan faults = {})
        : image(sim::DefaultMeter()), meter(image, faults), line(meter, &loop), engine(nullptr, &loop)
    {
        // Flash with a pattern that tells every address apart.
        for (uint32_t a = 0; a < 0x3000; ++a) image->flash.PutU8(a, static_cast<uint8_t>(a * 31 + (a >> 8)));
        EXPECT_TRUE(test::ConnectAsMainWindow(engine, line));
        engine.OnReceiveExecuted = [this](short len, unsigned char* buf) {
            answers.emplace_back(buf, buf + len);
            answeredAt = loop.NowMs();
        };
    }

    Bytes Flash(uint32_t addr, size_t n) const { return test::FlashBytes(*image, addr, n); }

    VirtualLoop loop;
    std::shared_ptr<sim::MeterImage> image;
    sim::SimMeter meter;
    sim::MemoryLine line;
    TRurIvaQs engine;
    std::vector<Bytes> answers;
    uint64_t answeredAt = 0;
};

TEST_F(WithSim, IdentifiesTheMeterAndReadsItsFlash)
{
    EXPECT_EQ(line.GetBaudRate(), br4800);
    std::vector<SIDDevice> ids;
    engine.OnReceivedIDDevice = [&](const SIDDevice* d) { ids.push_back(*d); };
    engine.GetDeviceID();
    ASSERT_TRUE(loop.RunUntil([&] { return !ids.empty(); }, 5000));
    EXPECT_EQ(ids[0].SerialNumber, image->SerialNumber());
    EXPECT_EQ(ids[0].Version, image->SoftwareVersion());
    EXPECT_EQ(Bytes(ids[0].Raw, ids[0].Raw + 14), Bytes(image->identity.begin(), image->identity.end()));

    engine.ReadFlash(0x100, 100);
    ASSERT_TRUE(loop.RunUntil([&] { return answers.size() == 1; }, 5000));
    EXPECT_EQ(answers[0], Flash(0x100, 100));
    engine.ReadFlashLarge(0x2A00, 250);
    ASSERT_TRUE(loop.RunUntil([&] { return answers.size() == 2; }, 5000));
    EXPECT_EQ(answers[1], Flash(0x2A00, 250));
    EXPECT_EQ(engine.GetRepetitionCounter(), 0);
    EXPECT_EQ(engine.GetStatistics().Answers, 3u);
}

class WithFaultySim : public WithSim {
protected:
    WithFaultySim() : WithSim(Faults()) {}
    static sim::FaultPlan Faults()
    {
        sim::FaultPlan f;
        f.seed = 7;
        f.dropAnswer = 0.20;
        f.badChecksum = 0.10;
        return f;
    }
};

TEST_F(WithFaultySim, ReadChainCompletesThroughLostAndSpoiltAnswers)
{
    constexpr int kReads = 50;
    auto addressOf = [](int i) { return 0x100u + 37u * static_cast<uint32_t>(i); };
    auto countOf = [](int i) { return static_cast<unsigned char>(1 + (i * 53) % 250); };
    engine.OnReceiveExecuted = [&](short len, unsigned char* buf) {
        answers.emplace_back(buf, buf + len);
        const int next = static_cast<int>(answers.size());
        if (next < kReads) engine.ReadFlashLarge(addressOf(next), countOf(next));
    };
    int falseCRC = 0;
    engine.OnFalseCRC = [&](TObject*) { ++falseCRC; };
    engine.ReadFlashLarge(addressOf(0), countOf(0));
    ASSERT_TRUE(loop.RunUntil([&] { return answers.size() == kReads; }, 30ull * 60 * 1000));
    for (int i = 0; i < kReads; ++i) EXPECT_EQ(answers[static_cast<size_t>(i)], Flash(addressOf(i), countOf(i))) << i;
    const SLineStatistics& s = engine.GetStatistics();
    EXPECT_GT(s.TimeOuts, 0u);
    EXPECT_GT(falseCRC, 0);
    EXPECT_EQ(s.Repetitions, s.TimeOuts + s.FalseCRC);
    EXPECT_EQ(s.Frames, kReads + s.Repetitions);
    std::printf("50 reads: %llu frames, %llu time-outs, %llu bad checksums, %llu ms of line time\n",
                static_cast<unsigned long long>(s.Frames), static_cast<unsigned long long>(s.TimeOuts),
                static_cast<unsigned long long>(s.FalseCRC), static_cast<unsigned long long>(loop.NowMs()));
}

TEST_F(WithSim, ConfigurationReadCostsLineTimeAndTheSendDelayOnly)
{
    // As the application reads it: 100 bytes by the 16-bit form, then 100 and 192 by the 32-bit one.
    struct Read {
        bool large;
        uint32_t addr;
        unsigned char n;
    };
    const Read reads[] = {{false, 0x100, 100}, {true, 0x164, 100}, {true, 0x1C8, 192}};
    size_t step = 0;
    auto issue = [&](const Read& r) {
        if (r.large)
            engine.ReadFlashLarge(r.addr, r.n);
        else
            engine.ReadFlash(static_cast<unsigned short>(r.addr), r.n);
    };
    engine.OnReceiveExecuted = [&](short len, unsigned char* buf) {
        answers.emplace_back(buf, buf + len);
        answeredAt = loop.NowMs();
        if (++step < std::size(reads)) issue(reads[step]);
    };
    const uint64_t start = loop.NowMs();
    issue(reads[0]);
    ASSERT_TRUE(loop.RunUntil([&] { return answers.size() == 3; }, 10000));
    Bytes config;
    for (const Bytes& a : answers) config.insert(config.end(), a.begin(), a.end());
    EXPECT_EQ(config, Flash(0x100, 392));

    // Each request's bytes go out while its echo comes back; the answer follows the last byte.
    // Bytes on the line: the frames (9, 11, 11) and the answers (105, 105, 197); the wake-up byte
    // goes out inside the 100 ms pause.
    const double byteMs = 10.0 * 1000.0 / 4800.0;
    const double lineMs = (9 + 105 + 11 + 105 + 11 + 197) * byteMs;
    const double bound = lineMs + 100 + 3 * engine.GetTimePackage() + 3;  // + 1 ms hand-over tick per answer
    const double took = static_cast<double>(answeredAt - start);
    std::printf("392-byte configuration read at 4800 baud: %.0f ms (line %.1f ms + 100 ms wake-up pause)\n", took,
                lineMs);
    EXPECT_LE(took, bound);
    EXPECT_GE(took, lineMs + 100);
    EXPECT_EQ(engine.GetRepetitionCounter(), 0);
}

}  // namespace
}  // namespace rv
