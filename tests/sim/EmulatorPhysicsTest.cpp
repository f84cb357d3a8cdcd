// The simulated meter's emulator: readings driven by the emulator block, the flow model against reference
// values worked apart from it, the KFS in flash, deviation curves, seeded noise and the measured flows kept.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "protocol/Frame.h"
#include "sim/EmulatorPhysics.h"
#include "sim/MeterCommands.h"
#include "sim/MeterDescription.h"
#include "sim/MeterExchange.h"
#include "sim/MeterFileErrorOf.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

using namespace rv;
using namespace rv::sim;
using rv::test::ErrorOf;
using rv::test::Payload;

namespace {

using Bytes = std::vector<uint8_t>;

struct Meter {
    explicit Meter(std::shared_ptr<MeterImage> image = DefaultMeter()) : meter(std::move(image)) {}

    Bytes Ask(uint8_t command, const Bytes& params) { return test::Ask(meter, command, params); }
    Bytes ReadRam(uint16_t addr, uint8_t n)
    {
        return Payload(Ask(cmd::kReadRam, {uint8_t(addr), uint8_t(addr >> 8), n}));
    }
    Bytes WriteRam(uint16_t addr, const Bytes& data)
    {
        Bytes p{uint8_t(addr), uint8_t(addr >> 8), uint8_t(data.size())};
        p.insert(p.end(), data.begin(), data.end());
        return Ask(cmd::kWriteRam, p);
    }
    Bytes WriteFlashLarge(uint32_t addr, const Bytes& data)
    {
        Bytes p(4);
        PutU32(p.data(), addr);
        p.push_back(uint8_t(data.size()));
        p.insert(p.end(), data.begin(), data.end());
        return Ask(cmd::kWriteFlashLarge, p);
    }
    Bytes ReadFlashLarge(uint32_t addr, uint8_t n)
    {
        Bytes p(4);
        PutU32(p.data(), addr);
        p.push_back(n);
        return Payload(Ask(cmd::kReadFlashLarge, p));
    }
    uint16_t Pointer(int word) { return meter.Image().RamPointer(word); }
    void Emulate(const Bytes& block) { ASSERT_EQ(WriteRam(Pointer(layout::ram::kEmulatorWord), block), Bytes{kAckOk}); }
    void Start(uint8_t mask) { ASSERT_EQ(Ask(cmd::kStartFlowCalculation, {mask}), Bytes{kAckOk}); }
    // The 38 floats of the last-measurement block as a plain RAM read brings them.
    std::vector<float> Last()
    {
        const Bytes b = ReadRam(Pointer(layout::ram::kLastMeasureWord), 152);
        std::vector<float> v(38);
        if (b.size() == 152) std::memcpy(v.data(), b.data(), 152);
        return v;
    }
    float Kfs(int position) { return meter.Image().flash.F32(layout::SensorAddress(position) + layout::sensor::kKfs); }

    SimMeter meter;
};

Bytes FloatBytes(float v)
{
    Bytes b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

double Rel(double want, double got) { return std::fabs(got - want) / std::fabs(want); }

}  // namespace

TEST(EmulatorPhysics, TheEmulatorBlockDrivesEachGroupsChannels)
{
    Meter m;
    // Group 0 (channels 0..2) emulates delay 2, group 1 (channels 3..5) is off.
    m.Emulate({8, 0x61, 0x33, 0x44, 12, 0x01, 0, 0});
    m.Start(0x0F);
    std::vector<float> v = m.Last();
    for (int c = 0; c < 3; ++c) {
        const double want = EmulatedFlow(m.meter.Image(), c, 2);
        EXPECT_GT(want, 0.5) << c;
        EXPECT_FLOAT_EQ(v[14 + c], static_cast<float>(want)) << c;
        EXPECT_FLOAT_EQ(v[8 + c], static_cast<float>(want / m.Kfs(c))) << c;
    }
    EXPECT_FLOAT_EQ(v[8 + 3], 0.0005f);
    EXPECT_FLOAT_EQ(v[14 + 3], static_cast<float>(0.0005 * m.Kfs(3)));
    // Channels outside the mask are not measured.
    EXPECT_EQ(v[8 + 4], 0.0f);
    EXPECT_EQ(v[14 + 5], 0.0f);

    // One emulation bit alone does not switch a group on; both do, at the group's own delay.
    m.Emulate({8, 0x61, 0, 0, 12, 0x20, 0, 0});
    m.Start(0x08);
    EXPECT_FLOAT_EQ(m.Last()[8 + 3], 0.0005f);
    m.Emulate({8, 0x61, 0, 0, 12, 0x40, 0, 0});
    m.Start(0x08);
    EXPECT_FLOAT_EQ(m.Last()[8 + 3], 0.0005f);
    m.Emulate({8, 0x21, 0, 0, 12, 0x60, 0, 0});
    m.Start(0x09);
    v = m.Last();
    EXPECT_FLOAT_EQ(v[14 + 3], static_cast<float>(EmulatedFlow(m.meter.Image(), 3, 3)));
    EXPECT_FLOAT_EQ(v[8 + 0], 0.0005f);  // group 0 has lost a bit

    // The code counts quarter ticks; delay 0 with emulation on is no flow at all.
    m.Emulate({5, 0x60, 0, 0, 0, 0x60, 0, 0});
    m.Start(0x09);
    v = m.Last();
    EXPECT_FLOAT_EQ(v[14 + 0], static_cast<float>(EmulatedFlow(m.meter.Image(), 0, 1.25)));
    EXPECT_GT(v[14 + 0], static_cast<float>(EmulatedFlow(m.meter.Image(), 0, 1)));
    EXPECT_EQ(v[14 + 3], 0.0f);
    EXPECT_EQ(v[8 + 3], 0.0f);
}

TEST(EmulatorPhysics, FlowFollowsTheModelAndTheKfsWrittenIntoFlash)
{
    // Reference flows worked out apart from the simulator, from the same formulas in double.
    struct Ref {
        double nominal, kfs, transit, delay, flow;
    };
    const Ref refs[] = {
        {20, 0.9987, 4.015e-5, 1, 2.102761514},    {20, 0.9987, 4.015e-5, 4, 8.430522077},
        {20, 0.9987, 4.015e-5, 1.25, 2.629865211}, {12, 1.0012, 1.261e-3, 11, 12.72486466},
        {200, 1.0021, 5.895e-4, 10, 213.6126719},  {20, 1.25, 4.015e-5, 4, 10.56477895},
    };
    for (const Ref& r : refs)
        EXPECT_LT(Rel(r.flow, SensorFlowModel(r.nominal, r.kfs, r.transit).FlowAt(r.delay)), 2e-7) << r.nominal;
    EXPECT_EQ(SensorFlowModel(20, 1, 4e-5).FlowAt(0), 0.0);
    EXPECT_NEAR(SensorFlowModel::WaterViscosity(20), 1.07321824e-6, 1e-14);

    // The built-in meter's sensors sweep 11, 10, 9 and 10 delays in a verification.
    Meter m;
    const int sweeps[] = {11, 10, 9, 10};
    for (int c = 0; c < 4; ++c) {
        const double nominal = m.meter.Image().flash.F32(layout::SensorAddress(c) + layout::sensor::kNominalMax);
        EXPECT_EQ(SensorFlowModel::LargestDelay(nominal, EmulatedFlow(m.meter.Image(), c, 1) / m.Kfs(c)), sweeps[c]);
    }

    // A KFS written by the PC takes effect at the next sample: the raw reading follows the new model, the
    // flow reading is divided by the new KFS.
    m.Emulate({16, 0x60, 0, 0, 0, 0, 0, 0});
    m.Start(0x02);
    const float before = m.Last()[14 + 1];
    ASSERT_EQ(m.WriteFlashLarge(layout::SensorAddress(1) + layout::sensor::kKfs, FloatBytes(1.25f)), Bytes{kAckOk});
    m.Start(0x02);
    const std::vector<float> v = m.Last();
    EXPECT_LT(Rel(10.56477895, v[14 + 1]), 2e-7);
    EXPECT_NE(v[14 + 1], before);
    EXPECT_FLOAT_EQ(v[8 + 1], v[14 + 1] / 1.25f);

    // A KFS that is no positive number measures nothing, and the meter keeps answering.
    m.WriteFlashLarge(layout::SensorAddress(1) + layout::sensor::kKfs, FloatBytes(0.0f));
    m.WriteFlashLarge(layout::SensorAddress(2) + layout::sensor::kKfs, FloatBytes(std::nanf("")));
    m.Emulate({16, 0x60, 0, 0, 0, 0, 0, 0});
    m.Start(0x06);
    EXPECT_EQ(m.Last()[14 + 1], 0.0f);
    EXPECT_EQ(m.Last()[8 + 2], 0.0f);
}

TEST(EmulatorPhysics, TransitTimeComesFromTheDescriptionOrIsChosen)
{
    const double t = SensorFlowModel::TransitTimeFor(50, 1.0035, 5.0);
    EXPECT_LT(Rel(5.0, SensorFlowModel(50, 1.0035, t).FlowAt(1) / 1.0035), 1e-9);
    EXPECT_EQ(SensorFlowModel::TransitTimeFor(50, 1, 1e30), 0.0);

    // A path length stands for its transit time at the speed of sound in water; with neither, every
    // size sweeps about ten delays.
    auto img = ParseMeter(R"({"sensors": [
        {"position": 0, "nominalMax": 20, "kfs": 1, "transitTime": 4e-5},
        {"position": 1, "nominalMax": 20, "kfs": 1, "pathLength": 0.059292},
        {"position": 2, "nominalMax": 80, "kfs": 0.98}]})");
    EXPECT_DOUBLE_EQ(SensorModelOf(*img, 1).TransitTime(), 0.059292 / 1482.3);
    EXPECT_LT(Rel(EmulatedFlow(*img, 0, 3), EmulatedFlow(*img, 1, 3)), 1e-9);
    for (const double nominal : {7, 12, 20, 30, 50, 80, 120, 200}) {
        const SensorFlowModel s(nominal, 1.01, 0);
        EXPECT_EQ(SensorFlowModel::LargestDelay(nominal, s.FlowAt(1) / 1.01), 10) << nominal;
    }
    // An unknown nominal maximum is taken as the smallest size.
    EXPECT_EQ(SensorFlowModel(25, 1, 1e-4).Diameter(), 0.02);
    EXPECT_EQ(SensorFlowModel::LargestDelay(20, 0), 0);
}

TEST(EmulatorPhysics, ADeviationCurveShapesTheRawReading)
{
    const std::vector<DeviationPoint> curve = {{0.2, 2}, {2, 2}, {12, 0}};
    EXPECT_EQ(DeviationPercent(curve, 0.01), 2);
    EXPECT_EQ(DeviationPercent(curve, 1.5), 2);
    EXPECT_DOUBLE_EQ(DeviationPercent(curve, 7), 1);
    EXPECT_EQ(DeviationPercent(curve, 500), 0);
    EXPECT_EQ(DeviationPercent({}, 5), 0);

    auto img = ParseMeter(R"({"sensors": [{"position": 0, "nominalMax": 20, "kfs": 1, "transitTime": 4.015e-5,
        "deviation": [[0.2, 2], [2, 2], [12, 0]]}]})");
    const SensorFlowModel model = SensorModelOf(*img, 0);
    EXPECT_LT(Rel(model.FlowAt(0.5) * 1.02, EmulatedFlow(*img, 0, 0.5)), 1e-12);
    EXPECT_EQ(EmulatedFlow(*img, 0, 9), model.FlowAt(9));

    EXPECT_NE(ErrorOf(R"({"sensors": [{"deviation": [[2, 1], [1, 0]]}]})").find("sensors[0].deviation[1]: the flows"),
              std::string::npos);
    EXPECT_NE(ErrorOf(R"({"sensors": [{"deviation": [[2]]}]})").find("[flow, percent]"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"sensors": [{"transitTime": -1}]})").find("sensors[0].transitTime"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"emulator": {"noise": 1}})").find("emulator.noise: unknown key"), std::string::npos);
}

TEST(EmulatorPhysics, NoiseIsDeterministicUnderTheSeedAndReadsBringFreshSamples)
{
    const auto noisy = [](uint32_t seed, bool resample) {
        MeterDescription d = DefaultDescription();
        d.emulator.flowNoise = 0.01;
        d.emulator.zeroNoise = 0.002;
        d.emulator.seed = seed;
        d.emulator.resampleOnRead = resample;
        return BuildMeter(d);
    };
    // Channel 0 emulates delay 3, channel 3 reads zero flow; 400 reads after one start.
    const auto run = [](Meter& m, int reads) {
        m.Emulate({12, 0x60, 0, 0, 0, 0, 0, 0});
        m.Start(0x09);
        std::vector<float> raw0, flow3;
        for (int i = 0; i < reads; ++i) {
            const std::vector<float> v = m.Last();
            raw0.push_back(v[14]);
            flow3.push_back(v[8 + 3]);
        }
        return std::make_pair(raw0, flow3);
    };
    Meter a(noisy(7, true)), b(noisy(7, true)), c(noisy(8, true));
    const auto ra = run(a, 400), rb = run(b, 400), rc = run(c, 400);
    EXPECT_EQ(ra, rb);
    EXPECT_NE(ra.first, rc.first);

    // The draws have the deviations asked for, around the noise-free readings.
    const double clean = EmulatedFlow(a.meter.Image(), 0, 3);
    double s1 = 0, s2 = 0, z1 = 0;
    for (size_t i = 0; i < ra.first.size(); ++i) {
        const double e = ra.first[i] / clean - 1;
        s1 += e;
        s2 += e * e;
        z1 += ra.second[i];
    }
    const double n = static_cast<double>(ra.first.size());
    EXPECT_NEAR(s1 / n, 0, 0.0015);
    EXPECT_NEAR(std::sqrt(s2 / n), 0.01, 0.0015);
    EXPECT_NEAR(z1 / n, 0.0005, 0.0003);

    // Without resampling a read shows the sample of the last start, again and again.
    Meter still(noisy(7, false));
    const auto rs = run(still, 3);
    EXPECT_EQ(rs.first[0], rs.first[2]);
    still.Start(0x09);
    EXPECT_NE(still.Last()[14], rs.first[0]);

    // A meter where no calculation was started keeps what lies in its block.
    Meter fresh(noisy(7, true));
    const uint16_t last = fresh.Pointer(layout::ram::kLastMeasureWord);
    fresh.meter.Image().ram.PutF32(last + 4 * 14, 42.0f);
    EXPECT_EQ(fresh.Last()[14], 42.0f);
    EXPECT_EQ(fresh.meter.Image().emulatorState.samples, 0u);
}

TEST(EmulatorPhysics, TheEmulatorFlagFollowsTheOptionAndTheSwitch)
{
    for (const bool on : {false, true}) {
        Meter m(ParseMeter(std::string(R"({"ram": {"emulatorMode": )") + (on ? "true" : "false") + "}}"));
        const Bytes flags = m.ReadRam(m.Pointer(layout::ram::kFlagsWord), 16);
        ASSERT_EQ(flags.size(), 16u);
        EXPECT_EQ(flags[13] != 0, on);
        m.meter.Image().SetEmulatorMode(!on);
        EXPECT_EQ(m.ReadRam(m.Pointer(layout::ram::kFlagsWord), 16)[13] != 0, !on);
    }
}

TEST(EmulatorPhysics, MeasuredFlowsWrittenOverPointer13AreKept)
{
    Meter m;
    const uint16_t p13 = m.Pointer(layout::ram::kWord13);
    EXPECT_EQ(m.WriteRam(p13, FloatBytes(12.5f)), Bytes{kAckOk});
    Bytes wider = FloatBytes(0);
    const Bytes f = FloatBytes(3.25f);
    wider.insert(wider.end(), f.begin(), f.end());
    EXPECT_EQ(m.WriteRam(static_cast<uint16_t>(p13 - 4), wider), Bytes{kAckOk});
    m.WriteRam(static_cast<uint16_t>(p13 + 1), FloatBytes(9.0f));  // misses the start
    m.WriteRam(p13, {1, 2});                                       // only half of it
    EXPECT_EQ(m.meter.Image().emulatorState.measuredFlows, (std::vector<float>{12.5f, 3.25f}));
    EXPECT_EQ(m.meter.Image().ram.U8(p13), 1);

    // With the pointer table moved so that the blocks lie past RAM, nothing is kept or measured, and
    // the meter goes on answering.
    m.meter.Image().SetRamPointer(layout::ram::kWord13, 0xFFFE);
    m.meter.Image().SetRamPointer(layout::ram::kLastMeasureWord, 0xFFF0);
    m.meter.Image().SetRamPointer(layout::ram::kEmulatorWord, 0xFFFC);
    m.WriteRam(0xFFFE, {1, 2});
    m.Start(0x3F);
    EXPECT_EQ(m.ReadRam(0xFFF0, 16).size(), 16u);
    EXPECT_EQ(m.meter.Image().emulatorState.measuredFlows.size(), 2u);
    EXPECT_FALSE(EmulatedDelay(m.meter.Image(), 0));
}

TEST(FlashWrites, LandRefuseOrVanishByThePolicy)
{
    Meter m;
    const uint32_t at = layout::SensorAddress(0) + layout::sensor::kKfs;
    const Bytes old = m.ReadFlashLarge(at, 4);

    // Both write commands land and read back.
    EXPECT_EQ(m.WriteFlashLarge(at, FloatBytes(1.5f)), Bytes{kAckOk});
    EXPECT_EQ(m.ReadFlashLarge(at, 4), FloatBytes(1.5f));
    EXPECT_EQ(m.Ask(cmd::kWriteFlash, {0x00, 0x30, 2, 0xAB, 0xCD}), Bytes{kAckOk});
    EXPECT_EQ(Payload(m.Ask(cmd::kReadFlash, {0x00, 0x30, 2})), (Bytes{0xAB, 0xCD}));

    m.meter.Image().flashWrites = FlashWrites::Refuse;
    const Bytes refused = m.WriteFlashLarge(at, FloatBytes(2.5f));
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0], kAckOk);
    EXPECT_NE(m.Ask(cmd::kWriteFlash, {0x00, 0x30, 1, 0x11}), Bytes{kAckOk});
    EXPECT_EQ(m.ReadFlashLarge(at, 4), FloatBytes(1.5f));
    EXPECT_EQ(m.meter.Image().flash.U8(0x3000), 0xAB);
    // A malformed write stays unanswered whatever the policy.
    EXPECT_TRUE(m.Ask(cmd::kWriteFlashLarge, {0, 3, 0, 0, 4, 1}).empty());

    m.meter.Image().flashWrites = FlashWrites::Ignore;
    EXPECT_EQ(m.WriteFlashLarge(at, FloatBytes(2.5f)), Bytes{kAckOk});
    EXPECT_EQ(m.ReadFlashLarge(at, 4), FloatBytes(1.5f));

    m.meter.Image().flashWrites = FlashWrites::InCorrectionMode;
    EXPECT_EQ(m.WriteFlashLarge(at, FloatBytes(2.5f)), Bytes{kAckRefused});
    m.meter.Image().SetCorrectionMode(true);
    EXPECT_EQ(m.WriteFlashLarge(at, FloatBytes(2.5f)), Bytes{kAckOk});
    EXPECT_EQ(m.ReadFlashLarge(at, 4), FloatBytes(2.5f));
    EXPECT_NE(old, FloatBytes(2.5f));

    // The policy and the correction mode come from the description too.
    const auto img = ParseMeter(R"({"identity": {"status": 5, "correctionMode": true}, "flashWrites": "refuse"})");
    EXPECT_EQ(img->flashWrites, FlashWrites::Refuse);
    EXPECT_EQ(img->Status(), 7);
    EXPECT_EQ(ParseMeter(R"({"identity": {"status": 6, "correctionMode": false}})")->Status(), 4);
    EXPECT_EQ(ParseMeter(R"({"flashWrites": "correctionMode"})")->flashWrites, FlashWrites::InCorrectionMode);
    EXPECT_NE(ErrorOf(R"({"flashWrites": "never"})").find("flashWrites: \"never\" is not"), std::string::npos);
}

TEST(FlashWrites, TheIdentityShowsTheCorrectionModeBit)
{
    Meter m;
    m.meter.Image().SetStatus(0x0100);
    m.meter.Image().SetCorrectionMode(true);
    Bytes id = Payload(m.Ask(cmd::kIdentity, {}));
    ASSERT_EQ(id.size(), kIdentitySize);
    EXPECT_EQ(id[12], 0x02);
    EXPECT_EQ(id[13], 0x01);
    m.meter.Image().SetCorrectionMode(false);
    id = Payload(m.Ask(cmd::kIdentity, {}));
    EXPECT_EQ(id[12], 0x00);
    EXPECT_EQ(id[13], 0x01);
}

TEST(ShippedMeters, EveryFileDescribesAPlausibleMeterInEmulatorMode)
{
    using namespace layout;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(RIVANTA_SIM_METERS)) {
        if (entry.path().extension() != ".json") continue;
        ++files;
        SCOPED_TRACE(entry.path().filename().string());
        const auto m = LoadMeter(entry.path().string());
        EXPECT_TRUE(m->EmulatorMode());
        const int paths = m->flash.U8(kConfig + config::kPathsPerSensor);
        ASSERT_TRUE(paths == 1 || paths == 3);
        int offered = 0;
        for (int i = 0; i < kSensorCount; i += paths) {
            const uint32_t s = SensorAddress(i);
            if (!m->flash.U8(s + sensor::kPresent)) continue;
            ++offered;
            // A sensor of 0.15 m or more shows three KFS lines, so it needs three records to stand on.
            const bool large = m->flash.F32(s + sensor::kDiameter) >= 0.15f;
            const int records = large || paths == 3 ? 3 : 1;
            ASSERT_LE(i + records, kSensorCount);
            for (int k = i; k < i + records; ++k) {
                const uint32_t r = SensorAddress(k);
                EXPECT_EQ(std::stof(m->flash.Text(r + sensor::kQvmax, sensor::kQvmaxLen)),
                          m->flash.F32(r + sensor::kNominalMax));
                std::string kfs = m->flash.Text(r + sensor::kKfsText, sensor::kKfsTextLen);
                ASSERT_NE(kfs.find(','), std::string::npos) << kfs;
                kfs.replace(kfs.find(','), 1, ".");
                EXPECT_NEAR(std::stod(kfs), m->flash.F32(r + sensor::kKfs), 1e-6);
                EXPECT_GE(SensorFlowModel::SizeOf(m->flash.F32(r + sensor::kNominalMax)), 0);
            }
            // Delay 1 reads at least 1 m3/h per unit of KFS and the sweep stays within 8..12 delays.
            const double perKfs = EmulatedFlow(*m, i, 1) / m->flash.F32(s + sensor::kKfs);
            EXPECT_GE(perKfs, 1.0);
            const int mmax = SensorFlowModel::LargestDelay(m->flash.F32(s + sensor::kNominalMax), perKfs);
            EXPECT_GE(mmax, 8);
            EXPECT_LE(mmax, 12);
        }
        EXPECT_GE(offered, 1);
    }
    EXPECT_GE(files, 3);
}
