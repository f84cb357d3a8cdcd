// Size index of a nominal maximum, water viscosity and the allowed error of each accuracy class at the
// edges of its flow bands.
#include <gtest/gtest.h>

#include "app/verify/FlowTables.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace rv;

namespace {

struct SReport {
    int Count = 0;
    std::string Text, Caption;
};

TMessageHook Recorder(SReport& r)
{
    return [&r](const std::string& text, const std::string& caption) {
        ++r.Count;
        r.Text = text;
        r.Caption = caption;
    };
}

float Below(float v) { return std::nextafter(v, -1.0f); }
float Above(float v) { return std::nextafter(v, 1e9f); }

}  // namespace

TEST(SizeIndexOf, TakesTheWholePartOfTheAcceptedMaxima)
{
    SReport r;
    const float accepted[] = {7, 12, 20, 30, 50, 80, 120, 200};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(SizeIndexOf(accepted[i], Recorder(r)), i);
        EXPECT_EQ(SizeIndexOf(accepted[i] + 0.99f, Recorder(r)), i);
    }
    EXPECT_EQ(SizeIndexOf(7.9f, Recorder(r)), 0);
    EXPECT_EQ(r.Count, 0);
}

TEST(SizeIndexOf, ReportsAnyOtherValueAndGivesTheFirstSize)
{
    const float others[] = {25.0f, 6.99f, 0.0f, -7.0f, 300.0f, 1e30f, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity()};
    for (float v : others) {
        SReport r;
        EXPECT_EQ(SizeIndexOf(v, Recorder(r)), 0) << v;
        EXPECT_EQ(r.Count, 1) << v;
        EXPECT_EQ(r.Text, "Не соответствие типа датчика");
        EXPECT_EQ(r.Caption, "Ошибка");
    }
    EXPECT_EQ(SizeIndexOf(25.0f), 0);  // no reporter: nothing shown, still the first size
}

TEST(WaterViscosity, UsesTheColdFormulaBelowSixtyDegreesAndTheWarmOneFromSixty)
{
    EXPECT_FLOAT_EQ(WaterViscosity(20.0f), 1.07321824e-6f);
    EXPECT_FLOAT_EQ(WaterViscosity(60.0f), (0.83243f - 0.0074036f * 60 + 0.00002107142f * 3600) * 1e-6f);
    const double t = Below(60.0f);
    EXPECT_FLOAT_EQ(WaterViscosity(Below(60.0f)), static_cast<float>((1.78398 - 0.042549 * t + 0.0003505456 * t * t) * 1e-6));
}

TEST(AllowedError, EachClassAtTheEdgesOfItsBands)
{
    struct SCase {
        int Set, Paths, Size;
        float Q, Expected;
    };
    // Size 4: A1..A4 0.5 1 5 50, C1..C4 0.2 0.5 2.5 50, D1..D3 0.2 2.5 50, B4 50.
    const std::vector<SCase> cases = {
        {0, 1, 4, 50.0f, 2.02f},  {0, 3, 4, 5.0f, 2.2f},   {0, 1, 0, 0.07f, 2.0f},  // B4 of size 0 is 0
        {1, 1, 4, 2.5f, 0.3f},    {1, 1, 4, 50.0f, 0.3f},  {1, 1, 4, Below(2.5f), 0.0f},
        {1, 3, 4, Above(50.0f), 0.0f},
        {2, 1, 4, 50.0f, 1.5f},   {2, 1, 4, 5.0f, 1.5f},   {2, 1, 4, Below(5.0f), 3.0f},
        {2, 1, 4, 1.0f, 3.0f},    {2, 1, 4, Below(1.0f), 5.0f}, {2, 1, 4, 0.5f, 5.0f},
        {2, 1, 4, Below(0.5f), 0.0f}, {2, 1, 4, Above(50.0f), 0.0f},
        {2, 3, 4, 2.5f, 1.5f},    {2, 3, 4, Below(2.5f), 3.0f}, {2, 3, 4, 0.5f, 3.0f},
        {2, 3, 4, Below(0.5f), 5.0f}, {2, 3, 4, 0.2f, 5.0f}, {2, 3, 4, Below(0.2f), 0.0f},
        {3, 1, 4, 50.0f, 1.01f},  {3, 3, 4, 0.5f, 2.0f},
        {4, 1, 4, 2.5f, 3.0f},    {4, 1, 4, 50.0f, 3.0f},  {4, 1, 4, Below(2.5f), 5.0f},
        {4, 1, 4, 0.2f, 5.0f},    {4, 1, 4, Below(0.2f), 0.0f}, {4, 1, 4, Above(50.0f), 0.0f},
        {4, 3, 4, 2.5f, 2.0f},    {4, 3, 4, Below(2.5f), 5.0f},
        {5, 1, 4, 5.0f, 0.0f},    {-1, 1, 4, 5.0f, 0.0f},
        // Size 2: the class 1,5 bands of one path at their lowest edge, A3 = 2 and just below.
        {2, 1, 2, 2.0f, 1.5f},    {2, 1, 2, Below(2.0f), 3.0f},
    };
    for (const SCase& c : cases)
        EXPECT_FLOAT_EQ(AllowedError(c.Q, c.Set, c.Paths, c.Size), c.Expected)
            << "set " << c.Set << " paths " << c.Paths << " size " << c.Size << " q " << c.Q;
}

TEST(AllowedError, GivesNoLimitWhereTheFormulaWouldDivideByZeroOrTheSizeIsUnknown)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int set : {0, 3}) {
        EXPECT_EQ(AllowedError(0.0f, set, 1, 4), 0.0f);
        EXPECT_EQ(AllowedError(-1.0f, set, 1, 4), 0.0f);
        EXPECT_EQ(AllowedError(nan, set, 1, 4), 0.0f);
    }
    for (int set = 0; set < 5; ++set) {
        EXPECT_EQ(AllowedError(5.0f, set, 1, -1), 0.0f);
        EXPECT_EQ(AllowedError(5.0f, set, 1, kSizeCount), 0.0f);
        EXPECT_EQ(AllowedError(nan, set, 3, 4), 0.0f);
    }
}
