// The simulator's physics as the check of the application's flow model: the shipped meters are swept as a
// verification sweeps them, the application's model is calibrated with the readings, and the flow it sets
// for each required flow must agree with the flow the meter's readings give for the same pattern.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/verify/FlowTables.h"
#include "app/verify/TFlowMath.h"
#include "sim/EmulatorPhysics.h"
#include "sim/MeterCommands.h"
#include "sim/MeterDescription.h"
#include "sim/MeterExchange.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

using namespace rv;
using namespace rv::sim;

namespace {

using Bytes = std::vector<uint8_t>;

// One sensor of a shipped meter, driven over the meter's own commands as a verification drives it.
class Verification {
public:
    Verification(const std::string& file, int sensor) : meter_(LoadMeter(std::string(RIVANTA_SIM_METERS) + "/" + file))
    {
        const MeterImage& img = meter_.Image();
        const uint32_t s = layout::SensorAddress(sensor);
        sensor_ = sensor;
        paths_ = img.flash.U8(layout::kConfig + layout::config::kPathsPerSensor);
        mask_ = paths_ == 1 ? static_cast<uint8_t>(1u << sensor) : sensor == 0 ? 0x07 : 0x38;
        group_ = sensor * paths_ >= 3 ? 4 : 0;
        nominal_ = img.flash.F32(s + layout::sensor::kNominalMax);
        kfs_ = img.flash.F32(s + layout::sensor::kKfs);
        const int module = img.flash.U8(s + layout::sensor::kModule);
        tableSet_ = img.flash.U8(layout::kConfig + layout::config::kTableSet + static_cast<uint32_t>(module));
        for (int k = 0; k < layout::sensor::kSegments; ++k) {
            const uint32_t seg = s + layout::sensor::kCorrection + 12u * static_cast<uint32_t>(k);
            flat_ = flat_ && img.flash.F32(seg) == 1.0f && img.flash.F32(seg + 4) == 0.0f && img.flash.F32(seg + 8) == 0.0f;
        }
        emu_ = Read(img.RamPointer(layout::ram::kEmulatorWord), 8);
    }

    // The mean of 20 KFS-divided raw readings at delay 1, per path, as the run's nominal measurement.
    float NominalSum()
    {
        SetDelay(1, true);
        float sum = 0;
        for (int i = 0; i < 20; ++i) {
            const std::vector<float> v = Sample();
            for (int c = 0; c < paths_; ++c) sum += v[static_cast<size_t>(14 + sensor_ + c)] / kfs_;
        }
        return sum / 20 / static_cast<float>(paths_);
    }

    static int LargestDelay(float nominal, float sum)
    {
        int m = static_cast<int>(nominal / sum + 1);
        if (1.33 * nominal < m * sum) --m;
        return m;
    }

    // The mean raw reading per delay 0..mmax, delay 0 weighted by 0.1 as the point series takes it.
    TDelayTable Sweep(int mmax)
    {
        TDelayTable t{};
        for (int m = 0; m <= mmax; ++m) {
            SetDelay(m, true);
            for (int i = 0; i < 3; ++i) {
                const std::vector<float> v = Sample();
                float sum = 0;
                for (int c = 0; c < paths_; ++c) sum += v[static_cast<size_t>(14 + sensor_ + c)];
                t[static_cast<size_t>(m)] += sum / static_cast<float>(paths_);
            }
            t[static_cast<size_t>(m)] /= 3;
        }
        t[0] *= 0.1f;
        return t;
    }

    // The required flows of the run for a table set, as the verification fills its fields.
    std::vector<float> RequiredFlows(int tableSet, int size) const
    {
        using namespace tables;
        const auto i = static_cast<size_t>(size);
        const auto geometric = [](float top, float bottom) {
            const float r = std::sqrt(std::sqrt(top / bottom));
            return std::vector<float>{top, top / r, top / r / r, top / r / r / r, bottom};
        };
        std::vector<float> q;
        switch (tableSet) {
        case 0: q = paths_ == 3 ? geometric(B4[i], B1[i]) : geometric(A4[i], A1[i]); break;
        case 1: q = {D3[i], D3[i], D3[i]}; break;
        case 2: q = paths_ == 1 ? std::vector<float>{A4[i], A3[i], A2[i], A1[i]}
                                : std::vector<float>{C4[i], C3[i], C2[i], C1[i]}; break;
        case 3: q = geometric(C4[i], C1[i]); break;
        case 4: q = {D3[i], D3[i], D2[i]}; break;
        }
        std::erase_if(q, [](float f) { return !(f > 0) || !std::isfinite(f); });
        return q;
    }

    int paths_ = 1;
    float nominal_ = 0;
    float kfs_ = 0;
    int tableSet_ = 0;
    bool flat_ = true;

private:
    Bytes Ask(uint8_t command, const Bytes& params) { return test::Ask(meter_, command, params); }
    Bytes Read(uint16_t addr, uint8_t n)
    {
        return test::Payload(Ask(cmd::kReadRam, {uint8_t(addr), uint8_t(addr >> 8), n}));
    }
    void SetDelay(int m, bool on)
    {
        emu_[group_] = static_cast<uint8_t>(4 * m);
        emu_[group_ + 1] = static_cast<uint8_t>(on ? emu_[group_ + 1] | 0x60 : emu_[group_ + 1] & 0x9F);
        const uint16_t at = meter_.Image().RamPointer(layout::ram::kEmulatorWord);
        Bytes p{uint8_t(at), uint8_t(at >> 8), 8};
        p.insert(p.end(), emu_.begin(), emu_.end());
        ASSERT_EQ(Ask(cmd::kWriteRam, p), Bytes{kAckOk});
    }
    std::vector<float> Sample()
    {
        EXPECT_EQ(Ask(cmd::kStartFlowCalculation, {mask_}), Bytes{kAckOk});
        const Bytes b = Read(meter_.Image().RamPointer(layout::ram::kLastMeasureWord), 152);
        std::vector<float> v(38);
        if (b.size() == 152) std::memcpy(v.data(), b.data(), 152);
        return v;
    }

    SimMeter meter_;
    int sensor_ = 0;
    uint8_t mask_ = 0;
    size_t group_ = 0;
    Bytes emu_;
};

struct Point {
    float required;
    double error;  // (set - measured) / set, percent
};

// Every required flow of every table set that the sensor's size has, run through the application's model
// calibrated with the sweep; the sweep reaches the largest delay that the nominal measurement gives.
std::vector<Point> Verify(Verification& v, int expectedMmax, bool everyTableSet)
{
    const float sum = v.NominalSum();
    const int mmax = Verification::LargestDelay(v.nominal_, sum);
    EXPECT_EQ(mmax, expectedMmax);
    EXPECT_EQ(mmax, SensorFlowModel::LargestDelay(v.nominal_, sum));
    EXPECT_GE(sum, 1.0f);
    EXPECT_TRUE(v.flat_) << "the correction coefficients are not flat";
    if (mmax < 1 || mmax >= kDelayCount) return {};
    const TDelayTable fwd = v.Sweep(mmax);
    const TDelayTable rev = fwd;

    TFlowMath fm;
    fm.SizeIndex = SizeIndexOf(v.nominal_);
    fm.PipeDiameter = tables::Diameter[static_cast<size_t>(fm.SizeIndex)];
    fm.Kfs = v.kfs_;
    fm.WaterTemp = 20;
    fm.MaxDelay = mmax;
    fm.FwdTable = &fwd;
    fm.RevTable = &rev;

    std::vector<Point> points;
    for (int set = 0; set <= 4; ++set) {
        if (!everyTableSet && set != v.tableSet_) continue;
        for (const float q : v.RequiredFlows(set, fm.SizeIndex)) {
            const SPatternResult r = fm.BuildPattern(q);
            EXPECT_TRUE(r.Ok()) << q << ": " << r.Message;
            if (!r.Ok()) continue;
            const double setFlow = fm.PatternFlow();
            // With flat correction coefficients every delay's correction ratio is 1.
            double measured = 0;
            for (int m = 0; m <= mmax; ++m)
                measured += fm.Pattern[static_cast<size_t>(m)] * static_cast<double>(fwd[static_cast<size_t>(m)]);
            measured /= fm.CountHigh + fm.CountLow;
            points.push_back({q, (setFlow - measured) / setFlow * 100});
        }
    }
    return points;
}

}  // namespace

TEST(ModelAgreement, MetersThatFollowTheModelVerifyWithinFiveHundredthsOfAPercent)
{
    struct Case {
        const char* file;
        int sensor;
        int mmax;
    };
    const Case cases[] = {
        {"default.json", 0, 11},   {"default.json", 1, 10},   {"default.json", 2, 9}, {"default.json", 3, 10},
        {"three-path.json", 0, 10}, {"three-path.json", 3, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " sensor " + std::to_string(c.sensor));
        Verification v(c.file, c.sensor);
        const std::vector<Point> points = Verify(v, c.mmax, true);
        EXPECT_GE(points.size(), 8u);
        for (const Point& p : points) EXPECT_LT(std::fabs(p.error), 0.05) << "at " << p.required << " m3/h";
    }
}

TEST(ModelAgreement, ALowFlowDeviationShowsAtTheLowPointsOnly)
{
    Verification v("deviation.json", 0);
    const std::vector<Point> points = Verify(v, 10, false);
    ASSERT_EQ(points.size(), 5u);
    // The model is calibrated at the largest delay, where the sensor reads true: the top point agrees, the
    // points at 2 m3/h and below read 2 % high.
    EXPECT_LT(std::fabs(points.front().error), 0.05);
    for (const Point& p : points) {
        if (p.required <= 2.0f) {
            EXPECT_NEAR(p.error, -2.0, 0.1) << "at " << p.required << " m3/h";
        }
    }
}
