// The whole verification, button to last line, against the simulated meter in virtual time: the exact
// protocol of noise-free meters against reviewed reference files, the flow model checked by the meter's
// physics, and a line with injected faults giving the same protocol as a clean one.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "app/MainRig.h"
#include "e2e/E2eSupport.h"
#include "meter/TRurIvaQs_6x6.h"

namespace rv::test {
namespace {

const char kRelativeError[] = "Относительная погрешность измерения ";
const char kNominal[] = "Номинальное значение расхода ";

struct Case {
    const char* name;  // the reference file, without ".txt"
    const char* meter;
    int sensor;
    bool reverse;
    bool extraInfo;
};

class ReferenceProtocol : public ::testing::TestWithParam<Case> {};

// Set RIVANTA_WRITE_REFERENCE=1 to write the files anew; they are then to be reviewed line by line.
TEST_P(ReferenceProtocol, WholeRunGivesTheReviewedProtocol)
{
    CommaSeparator comma;
    const Case& c = GetParam();
    MainRig rig(Meter(c.meter));
    rig.prompter.sensor = c.sensor;
    ASSERT_TRUE(rig.Verify(c.reverse, c.extraInfo));
    ASSERT_EQ(rig.ctl.Stage(), msDone) << rig.ctl.StopReason();
    EXPECT_TRUE(rig.prompter.Of("message").empty());
    EXPECT_FALSE(rig.ctl.View().ChBDopInfoChecked);  // cleared at the end of the verification

    const std::string path = std::string(RIVANTA_E2E_REFERENCE) + "/" + c.name + ".txt";
    if (std::getenv("RIVANTA_WRITE_REFERENCE")) {
        std::ofstream(path, std::ios::binary) << rig.Protocol();
        GTEST_SKIP() << "written " << path;
    }
    EXPECT_EQ(rig.Protocol(), ReadText(path)) << path;
}

INSTANTIATE_TEST_SUITE_P(Meters, ReferenceProtocol,
                         ::testing::Values(Case{"one-path-forward", "", 0, false, false},
                                           Case{"one-path-reverse-extra", "", 1, true, true},
                                           Case{"three-path-forward-extra", "three-path.json", 0, false, true},
                                           Case{"three-path-reverse", "three-path.json", 3, true, false}),
                         [](const auto& test) {
                             std::string n = test.param.name;
                             for (char& ch : n)
                                 if (ch == '-') ch = '_';
                             return n;
                         });

// A meter that follows the flow model shows the model's own agreement at every point, both directions.
TEST(Physics, MetersThatFollowTheModelShowBelowFiveHundredthsOfAPercent)
{
    CommaSeparator comma;
    for (auto [meter, sensor] :
         {std::pair{"", 0}, {"", 1}, {"", 2}, {"", 3}, {"three-path.json", 0}, {"three-path.json", 3}}) {
        MainRig rig(Meter(meter));
        rig.prompter.sensor = sensor;
        ASSERT_TRUE(rig.Verify(true, false));
        ASSERT_EQ(rig.ctl.Stage(), msDone) << meter << " " << sensor << ": " << rig.ctl.StopReason();
        const std::vector<double> errors = Figures(rig.Protocol(), kRelativeError);
        EXPECT_EQ(static_cast<int>(errors.size()), 2 * rig.ctl.Fields().PointCount) << meter << " " << sensor;
        for (double e : errors) EXPECT_LT(std::fabs(e), 0.05) << meter << " " << sensor;
    }
}

// The deviation meter reads 2 % high up to 2 m3/h, falling to 0 at 12 m3/h. The model is calibrated at the
// largest delay, so the low points show about -2 % and the top about 0.
TEST(Physics, ALowFlowDeviationShowsAtTheLowPointsOnly)
{
    CommaSeparator comma;
    MainRig rig(Meter("deviation.json"));
    ASSERT_TRUE(rig.Verify(false, false));
    ASSERT_EQ(rig.ctl.Stage(), msDone) << rig.ctl.StopReason();
    const std::string protocol = rig.Protocol();
    const std::vector<double> nominal = Figures(protocol, kNominal);
    const std::vector<double> errors = Figures(protocol, kRelativeError);
    ASSERT_EQ(nominal.size(), 5u);
    ASSERT_EQ(errors.size(), 5u);
    for (size_t k = 0; k < nominal.size(); ++k) {
        if (nominal[k] <= 2.0) {
            EXPECT_NEAR(errors[k], -2.0, 0.1) << nominal[k];
        }
        if (nominal[k] >= 12.0) {
            EXPECT_NEAR(errors[k], 0.0, 0.05) << nominal[k];
        }
    }
    EXPECT_NEAR(errors.front(), 0.0, 0.05);
    EXPECT_NEAR(errors.back(), -2.0, 0.1);
}

// Lost answers, spoilt checksums, garbage and late answers cost repetitions, never a different protocol.
TEST(Faults, TenPercentOfAnswersSpoiltGiveTheSameProtocol)
{
    CommaSeparator comma;
    MainRig clean;
    ASSERT_TRUE(clean.Verify(true, true));
    ASSERT_EQ(clean.ctl.Stage(), msDone);

    for (uint32_t seed : {1u, 2u, 3u}) {
        sim::FaultPlan faults;
        faults.seed = seed;
        faults.dropAnswer = 0.03;
        faults.badChecksum = 0.03;
        faults.garbage = 0.02;
        faults.late = 0.02;
        MainRig rig(sim::DefaultDescription(), faults);
        ASSERT_TRUE(rig.Verify(true, true));
        ASSERT_EQ(rig.ctl.Stage(), msDone) << seed << ": " << rig.ctl.StopReason();
        EXPECT_EQ(rig.Protocol(), clean.Protocol()) << seed;
        EXPECT_GT(rig.ctl.Net_6x6().GetRepetitionCounter(), 20) << seed;
    }
}

}  // namespace
}  // namespace rv::test
