// The headless KFS write in virtual time against the simulated meter: its options and values, a verified write
// of one and of three coefficients with the final message on its own stream, and the ways it ends short.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/E2eSupport.h"
#include "e2e/RunnerRigs.h"

namespace rv::test {
namespace {

bool Parse(const std::vector<std::string>& args, SKfsWriteOptions& o, std::string& error)
{
    return ParseKfsWriteOptions(args, o, error);
}

TEST(KfsWriteOptions, TakesThePositionAndTheValuesBesideTheCommonOptions)
{
    SKfsWriteOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--port", "ttyUSB0", "--kfs-write", "3=1,005", "--answer", "yes"}, o, error)) << error;
    EXPECT_EQ(o.Common.Port, "ttyUSB0");
    EXPECT_EQ(o.Position, 3);
    EXPECT_EQ(o.Values, "1,005");
    EXPECT_TRUE(o.Common.AnswerYes);
    ASSERT_TRUE(Parse({"--simulate", "--kfs-write=0=1.01;0.99;1.02"}, o, error)) << error;
    EXPECT_EQ(o.Position, 0);
    EXPECT_EQ(o.Values, "1.01;0.99;1.02");
    EXPECT_TRUE(WantsKfsWrite({"--simulate", "--kfs-write=0=1"}));
    EXPECT_FALSE(WantsKfsWrite({"--simulate", "--sensor", "1"}));

    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--simulate", "--kfs-write", "6=1"},
                                               {"--simulate", "--kfs-write", "1"},
                                               {"--simulate", "--kfs-write", "1="},
                                               {"--simulate", "--kfs-write"},
                                               {"--simulate", "--kfs-write", "1=1", "--kfs-write", "2=1"},
                                               {"--simulate", "--kfs-write", "1=1", "--sensor", "1"},
                                               {"--kfs-write", "1=1"}}) {
        error.clear();
        EXPECT_FALSE(Parse(bad, o, error)) << bad.back();
        EXPECT_FALSE(error.empty());
    }
}

TEST(KfsWriteOptions, ValuesSplitOnlyWhereThatLeavesNoDoubt)
{
    std::vector<std::string> v;
    std::string error;
    ASSERT_TRUE(SplitKfsValues("1,005", 1, v, error));
    EXPECT_EQ(v, std::vector<std::string>{"1,005"});
    ASSERT_TRUE(SplitKfsValues("1.005", 1, v, error));
    EXPECT_EQ(v, std::vector<std::string>{"1.005"});
    ASSERT_TRUE(SplitKfsValues("1.01,0.99,1.02", 3, v, error));
    EXPECT_EQ(v, (std::vector<std::string>{"1.01", "0.99", "1.02"}));
    ASSERT_TRUE(SplitKfsValues("1,01,0,99,1,02", 3, v, error));
    EXPECT_EQ(v, (std::vector<std::string>{"1,01", "0,99", "1,02"}));
    ASSERT_TRUE(SplitKfsValues("1,01;1;0,99", 3, v, error));
    EXPECT_EQ(v, (std::vector<std::string>{"1,01", "1", "0,99"}));
    EXPECT_FALSE(SplitKfsValues("1,01,0,99", 3, v, error));
    EXPECT_FALSE(SplitKfsValues("1,0,99", 1, v, error));
    EXPECT_FALSE(SplitKfsValues("1;;2", 3, v, error));
    EXPECT_TRUE(v.empty());
}

TEST(KfsWriteRun, WritesVerifiesAndPrintsTheFinalMessage)
{
    CommaSeparator comma;
    {
        RunRig rig(InCorrectionMode(sim::DefaultDescription()), "2=1.0100");
        EXPECT_EQ(rig.Run(), veComplete) << rig.log.str();
        EXPECT_EQ(rig.out.str(), "Произведено изменение\n КFS с 1,0035000 на 1,0100000\n");
        // The text goes to the meter as it was given.
        EXPECT_EQ(rig.image->flash.Text(sim::layout::SensorAddress(2) + 160, 10), "1.0100");
        EXPECT_FLOAT_EQ(rig.image->flash.F32(sim::layout::SensorAddress(2) + 178), 1.01f);
        EXPECT_FALSE(rig.line.GetOpen());
        EXPECT_NE(rig.log.str().find("Запись измененной информации."), std::string::npos);
    }
    {
        RunRig rig(InCorrectionMode(Meter("three-path.json")), "0=1,01,0,99,1,02");
        EXPECT_EQ(rig.Run(), veComplete) << rig.log.str();
        EXPECT_EQ(rig.out.str(),
                  "Произведено изменение\n КFS1 с 1,0021000 на 1,0100000\n КFS2 с 0,9978000 на 0,9900000\n"
                  " КFS3 с 1,0043000 на 1,0200000\n");
        EXPECT_EQ(rig.image->flash.Text(sim::layout::SensorAddress(1) + 160, 10), "0,99");
    }
}

TEST(KfsWriteRun, EndsShortWithAClearStatus)
{
    {
        // Not in correction mode and told to answer No.
        RunRig rig(sim::DefaultDescription(), "0=1,1");
        EXPECT_EQ(rig.Run(), veIncomplete);
        EXPECT_TRUE(rig.out.str().empty());
        EXPECT_NE(rig.log.str().find("Войдите в режим <Kоррекция> - ответ: Нет"), std::string::npos) << rig.log.str();
    }
    {
        // Told to answer Yes, but nobody switches the meter: a few asks, then it gives up.
        RunRig rig(sim::DefaultDescription(), "0=1,1", true);
        EXPECT_EQ(rig.Run(), veIncomplete);
        EXPECT_EQ(rig.meter.RequestCount(0x0F), 1u + TKfsWriteRun::kMaxCorrectionAsks + 1u);
    }
    {
        // A position the meter does not offer, and a count of values the sensor does not take.
        RunRig rig(InCorrectionMode(Meter("three-path.json")), "1=1,1");
        EXPECT_EQ(rig.Run(), veUsage);
        EXPECT_NE(rig.log.str().find("предлагаются позиции 0, 3"), std::string::npos) << rig.log.str();
        RunRig three(InCorrectionMode(Meter("three-path.json")), "0=1,1");
        EXPECT_EQ(three.Run(), veUsage);
        EXPECT_EQ(three.meter.RequestCount(0x41), 0u);
    }
    {
        // The meter keeps its old contents: the write is not reported done.
        sim::MeterDescription d = InCorrectionMode(sim::DefaultDescription());
        d.flashWrites = sim::FlashWrites::Ignore;
        RunRig rig(d, "0=1,1");
        EXPECT_EQ(rig.Run(), veIncomplete);
        EXPECT_TRUE(rig.out.str().empty());
        EXPECT_NE(rig.log.str().find("не подтверждено"), std::string::npos);
    }
}

}  // namespace
}  // namespace rv::test
