// The flow model: the pattern for a required flow, the flow of a pattern, the choice of the sweep table,
// refused inputs, and reference values checked against the same formulas worked in double.
#include <gtest/gtest.h>

#include "app/verify/FlowTables.h"
#include "app/verify/TFlowMath.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

using namespace rv;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// A 50 mm sensor (size 4) swept to delay 9 with a reading that rises evenly to 50 m3/h. The tables live on
// the heap on their own, so the address sanitizer sees any read past their 20 elements.
class FlowMathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int m = 0; m < kDelayCount; ++m) (*fwd)[m] = 50.0f * static_cast<float>(m) / 9.0f;
        (*fwd)[0] = 0.3f;
        Setup(fm, 4, 9);
    }
    void Setup(TFlowMath& f, int size, int mmax)
    {
        f.SizeIndex = size;
        f.PipeDiameter = tables::Diameter[static_cast<size_t>(size)];
        f.Kfs = 1.0f;
        f.WaterTemp = 20.0f;
        f.MaxDelay = mmax;
        f.FwdTable = fwd.get();
        f.RevTable = rev.get();
    }
    // The flow the model gives for delay m applied alone, with the transit time it holds now.
    static float PureFlow(TFlowMath& f, int m)
    {
        f.DelayHigh = m;
        f.DelayLow = std::max(m - 1, 0);
        f.CountHigh = 1;
        f.CountLow = 0;
        return f.PatternFlow();
    }
    static int NonZeroCounts(const TFlowMath& f)
    {
        return static_cast<int>(std::count_if(f.Pattern.begin(), f.Pattern.end(), [](uint32_t c) { return c; }));
    }

    std::unique_ptr<TDelayTable> fwd = std::make_unique<TDelayTable>();
    std::unique_ptr<TDelayTable> rev = std::make_unique<TDelayTable>();
    TFlowMath fm;
};

double RelError(double want, double got) { return (want - got) / want; }

}  // namespace

TEST_F(FlowMathTest, PatternOfOneCountEachIsAValidResult)
{
    const SPatternResult r = fm.BuildPattern(25.0f);
    ASSERT_TRUE(r.Ok()) << r.Message;
    EXPECT_EQ(r.Pattern, &fm.Pattern);
    EXPECT_EQ(fm.DelayHigh, 5);
    EXPECT_EQ(fm.DelayLow, 4);
    EXPECT_EQ(fm.CountHigh, 1);
    EXPECT_EQ(fm.CountLow, 1);
    EXPECT_EQ(fm.Pattern[5], 1u);
    EXPECT_EQ(fm.Pattern[4], 1u);
    EXPECT_EQ(NonZeroCounts(fm), 2);
    EXPECT_LE(std::abs(RelError(25.0, fm.PatternFlow())), 0.05);
}

TEST_F(FlowMathTest, FlowAboveTheTopOfTheSweepIsSearchedAtNinetyPercentOfIt)
{
    // 52 m3/h lies above the table's 50 at delay 9 but still estimates a delay within the sweep.
    ASSERT_TRUE(fm.BuildPattern(52.0f).Ok());
    const TPattern reduced = fm.Pattern;
    const float flow = fm.PatternFlow();
    EXPECT_LE(std::abs(RelError(45.0, flow)), 0.05);
    EXPECT_GT(std::abs(RelError(52.0, flow)), 0.05);
    ASSERT_TRUE(fm.BuildPattern(45.0f).Ok());
    EXPECT_EQ(fm.Pattern, reduced);
    // The top itself is not above it: searched as it is.
    ASSERT_TRUE(fm.BuildPattern(50.0f).Ok());
    EXPECT_NE(fm.Pattern, reduced);
    EXPECT_LE(std::abs(RelError(50.0, fm.PatternFlow())), 0.05);
}

TEST_F(FlowMathTest, ReverseTableIsReadWhenTheForwardOneStartsWithExactlyOne)
{
    for (int m = 0; m < kDelayCount; ++m) (*rev)[m] = 2.0f * (*fwd)[m];
    TFlowMath direct;
    Setup(direct, 4, 9);
    direct.FwdTable = rev.get();
    ASSERT_TRUE(direct.BuildPattern(60.0f).Ok());

    (*fwd)[0] = 1.0f;
    EXPECT_EQ(fm.ActiveTable(), rev.get());
    ASSERT_TRUE(fm.BuildPattern(60.0f).Ok());  // beyond the forward sweep, within the reverse one
    EXPECT_EQ(fm.TransitTime, direct.TransitTime);
    EXPECT_EQ(fm.Pattern, direct.Pattern);

    (*fwd)[0] = std::nextafter(1.0f, 2.0f);
    EXPECT_EQ(fm.ActiveTable(), fwd.get());
    EXPECT_EQ(fm.BuildPattern(60.0f).Fault, pfOutOfRange);
}

// With a sweep table that the model itself would produce, every flow of the range is matched within 5 %.
TEST_F(FlowMathTest, PatternFlowMatchesTheRequiredFlowAcrossTheRangeOfEverySize)
{
    for (int size = 0; size < 8; ++size)
        for (int mmax : {1, 5, 9, 14, 19}) {
            SCOPED_TRACE(testing::Message() << "size " << size << " Mmax " << mmax);
            const float top = tables::A4[static_cast<size_t>(size)] * 1.2f;
            fwd->fill(0.0f);
            (*fwd)[static_cast<size_t>(mmax)] = top;
            Setup(fm, size, mmax);
            ASSERT_TRUE(fm.BuildPattern(top).Ok());  // sets the transit time that the top implies
            for (int m = 0; m < mmax; ++m) (*fwd)[static_cast<size_t>(m)] = PureFlow(fm, m);
            for (float q = top / 2000.0f; q <= top; q *= 1.07f) {
                const SPatternResult r = fm.BuildPattern(q);
                ASSERT_TRUE(r.Ok()) << q << ": " << r.Message;
                ASSERT_LE(std::abs(RelError(q, fm.PatternFlow())), 0.05) << q;
                ASSERT_EQ(NonZeroCounts(fm), 2) << q;
                ASSERT_EQ(fm.DelayLow, fm.DelayHigh - 1);
                ASSERT_LE(fm.DelayHigh, mmax);
            }
        }
}

TEST_F(FlowMathTest, ZeroFlowIsSearchedAsTheSmallestFlow)
{
    const SPatternResult r = fm.BuildPattern(0.0f);
    ASSERT_TRUE(r.Ok()) << r.Message;
    EXPECT_EQ(fm.DelayHigh, 1);
    EXPECT_EQ(fm.DelayLow, 0);
    EXPECT_EQ(fm.CountHigh, 1);
    EXPECT_LE(std::abs(RelError(3600 * 1e-8, fm.PatternFlow())), 0.05);
}

// Inputs the model cannot serve end with a reason, an empty pattern and nothing written beside it.
TEST_F(FlowMathTest, RefusedInputsLeaveAnEmptyPatternAndSayWhy)
{
    struct SCase {
        const char* What;
        void (*Change)(TFlowMath&);
        float Q;
        TPatternFault Fault;
    };
    const SCase cases[] = {
        {"Mmax 25", [](TFlowMath& f) { f.MaxDelay = 25; }, 25.0f, pfMaxDelay},
        {"Mmax -1", [](TFlowMath& f) { f.MaxDelay = -1; }, 25.0f, pfMaxDelay},
        {"Mmax 0", [](TFlowMath& f) { f.MaxDelay = 0; }, 25.0f, pfModel},
        {"no table", [](TFlowMath& f) { f.FwdTable = nullptr; }, 25.0f, pfNoTable},
        {"size 10", [](TFlowMath& f) { f.SizeIndex = 10; }, 25.0f, pfSizeIndex},
        {"diameter 0", [](TFlowMath& f) { f.PipeDiameter = 0; }, 25.0f, pfDiameter},
        {"KFS 0", [](TFlowMath& f) { f.Kfs = 0; }, 25.0f, pfKfs},
        {"KFS NaN", [](TFlowMath& f) { f.Kfs = kNaN; }, 25.0f, pfKfs},
        {"KFS -1", [](TFlowMath& f) { f.Kfs = -1; }, 25.0f, pfKfs},
        {"flow NaN", [](TFlowMath&) {}, kNaN, pfFlow},
        {"flow -1", [](TFlowMath&) {}, -1.0f, pfFlow},
        {"flow inf", [](TFlowMath&) {}, std::numeric_limits<float>::infinity(), pfFlow},
        {"flow 500", [](TFlowMath&) {}, 500.0f, pfOutOfRange},
        {"flow 60", [](TFlowMath&) {}, 60.0f, pfOutOfRange},  // just past what delay 9 can carry
        {"flow 1e-7", [](TFlowMath&) {}, 1e-7f, pfNoConvergence},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.What);
        Setup(fm, 4, 9);
        ASSERT_TRUE(fm.BuildPattern(25.0f).Ok());
        c.Change(fm);
        const float d = fm.PipeDiameter, kfs = fm.Kfs;
        const SPatternResult r = fm.BuildPattern(c.Q);
        EXPECT_EQ(r.Fault, c.Fault);
        EXPECT_EQ(r.Pattern, nullptr);
        EXPECT_FALSE(r.Message.empty());
        EXPECT_EQ(NonZeroCounts(fm), 0);
        EXPECT_EQ(fm.PatternFlow(), 0.0f);
        EXPECT_EQ(fm.PipeDiameter, d);
        EXPECT_TRUE(fm.Kfs == kfs || std::isnan(kfs));
    }
    fm.MaxDelay = 9;
    EXPECT_NE(fm.BuildPattern(500.0f).Message.find("не покрывается"), std::string::npos);
}

// A sweep reading far above the model at the estimated delay keeps the search from moving up a delay;
// the flows of the two delays then cannot reach the required flow at all.
TEST_F(FlowMathTest, FlowBeyondBothDelaysOfThePatternIsNotCovered)
{
    ASSERT_TRUE(fm.BuildPattern(25.0f).Ok());
    (*fwd)[4] = 1000.0f;
    const float q = PureFlow(fm, 5) * 0.97f;  // estimates delay 4.x
    const SPatternResult r = fm.BuildPattern(q);
    EXPECT_EQ(r.Fault, pfOutOfRange);
    EXPECT_TRUE(fm.DelayExact >= 4.0f && fm.DelayExact < 5.0f) << fm.DelayExact;
}

namespace {

// The model worked again in double from its formulas, without holding anything in 32 bits.
struct SDoubleModel {
    double D, F, C, Nu;
    int Mmax;
    const TDelayTable& A;
    double T = 0, Kh = 1, Kv = 0, M = 0;
    int M1 = 0, M2 = 0, S1 = 1, S2 = 1;

    static constexpr double kPi = 3.14159265358979;
    static constexpr double kDt = 5.5556e-8f;

    static double Exponent(double re) { return 11.269 - 3.019 * std::log10(re) + 0.432 * std::pow(std::log10(re), 2); }
    static double Profile(double n) { return 2 * n / (2 * n + 1); }
    double ProfileAt(double m) const
    {
        if (m == 0) m = 1e-10;
        return Profile(Exponent(2 * m * kDt * D * D * Kv * F / (Nu * std::pow(m * kDt / 2 + T, 2))));
    }
    double Flow(int s1, int s2) const
    {
        const double u1 = M1 * kDt / 2, u2 = M2 * kDt / 2;
        return 3600 * kPi * D * D * D * Kv * F *
               (ProfileAt(M1) * u1 * s1 / std::pow(u1 + T, 2) + ProfileAt(M2) * u2 * s2 / std::pow(u2 + T, 2)) /
               (s1 + s2);
    }
    void SolveT()
    {
        double q = A[static_cast<size_t>(Mmax)] / 3600.0;
        if (q == 0) q = 1e-9;
        T = (std::sqrt(2 * kPi * Mmax * kDt * D * D * D * F * Kh * Kv / q) - Mmax * kDt) / 2;
    }
    void Build(double flow)
    {
        Kv = std::pow(C / (2 * D), 2);
        SolveT();
        for (int i = 0; i < 10; ++i) {
            const int h = Mmax / 2;
            Kh = Profile(Exponent(2 * D * D * Mmax * kDt * Kv * F / (Nu * std::pow(h * kDt + T, 2))));
            SolveT();
        }
        const double q = flow / 3600;
        const auto delay = [&](double k) { return 2 * q * T * T / (kPi * F * D * D * D * k * Kv * kDt); };
        M = delay(Kh);
        for (int i = 0; i < 10; ++i) M = delay(ProfileAt(M));
        M1 = std::max(static_cast<int>(M), 1);
        M2 = M1 - 1;
        if (flow > A[static_cast<size_t>(Mmax)]) flow = 0.9 * A[static_cast<size_t>(Mmax)];
        if (flow > A[static_cast<size_t>(M1)]) M2 = M1++;
        for (double p = Flow(S1, S2); std::abs((flow - p) / flow) > 0.05; p = Flow(S1, S2)) (flow < p ? S2 : S1)++;
        Kh = ProfileAt(M2);
    }
};

}  // namespace

// Recorded from this model once; the double computation tells a slip in a formula from float rounding.
TEST_F(FlowMathTest, ReferenceValuesOfARealisticSensor)
{
    struct SRef {
        float Q, T, Kh, Kv, M;
        int M1, M2, S1, S2;
    };
    const SRef refs[] = {
        {2.0f, 4.84913362e-05f, 0.987716973f, 0.357603967f, 0.36196658f, 1, 0, 3, 5},
        {12.0f, 4.84913362e-05f, 0.931901515f, 0.357603967f, 2.15527821f, 3, 2, 1, 3},
        {33.0f, 4.84913362e-05f, 0.936629117f, 0.357603967f, 5.89381218f, 6, 5, 2, 1},
    };
    const auto near = [](double want, double got) { return std::abs(RelError(want, got)) < 1e-6; };
    for (const SRef& ref : refs) {
        SCOPED_TRACE(ref.Q);
        ASSERT_TRUE(fm.BuildPattern(ref.Q).Ok());
        EXPECT_FLOAT_EQ(fm.TransitTime, ref.T);
        EXPECT_FLOAT_EQ(fm.Kh, ref.Kh);
        EXPECT_FLOAT_EQ(fm.Kv, ref.Kv);
        EXPECT_FLOAT_EQ(fm.DelayExact, ref.M);
        EXPECT_EQ(fm.DelayEstimate, static_cast<int>(ref.M));
        EXPECT_EQ(fm.DelayHigh, ref.M1);
        EXPECT_EQ(fm.DelayLow, ref.M2);
        EXPECT_EQ(fm.CountHigh, ref.S1);
        EXPECT_EQ(fm.CountLow, ref.S2);
        EXPECT_EQ(fm.Pattern[static_cast<size_t>(ref.M1)], static_cast<uint32_t>(ref.S1));
        EXPECT_EQ(fm.Pattern[static_cast<size_t>(ref.M2)], static_cast<uint32_t>(ref.S2));

        SDoubleModel d{0.05f, 1.0, 0.0598f, WaterViscosity(20.0f), 9, *fwd};
        d.Build(ref.Q);
        EXPECT_PRED2(near, d.T, fm.TransitTime);
        EXPECT_PRED2(near, d.Kh, fm.Kh);
        EXPECT_PRED2(near, d.Kv, fm.Kv);
        EXPECT_PRED2(near, d.M, fm.DelayExact);
        EXPECT_EQ(d.M1, fm.DelayHigh);
        EXPECT_EQ(d.M2, fm.DelayLow);
        EXPECT_EQ(d.S1, fm.CountHigh);
        EXPECT_EQ(d.S2, fm.CountLow);
        EXPECT_PRED2(near, d.Flow(d.S1, d.S2), fm.PatternFlow());
    }
}
