// The runner program's KFS write against the simulated meter on a pseudo-terminal, over the real serial link:
// a verified write with exit status 0 and the final message on standard output, and a meter that is not put
// into correction mode ending with a non-zero status.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "e2e/ProgramRun.h"

namespace rv::test {
namespace {

TEST(KfsWriteProgram, WritesThreeCoefficientsOverAPseudoTerminal)
{
    // The shipped three-path meter, switched into correction mode.
    const std::string meter =
        ChangedMeter("three-path.json", "\"status\": 0", "\"status\": 0, \"correctionMode\": true");
    ASSERT_FALSE(meter.empty());
    const Outcome o = RunProgram("--simulate --meter " + meter + " --kfs-write '0=1.01;0,99;1.02'");
    std::remove(meter.c_str());
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out,
              "Произведено изменение\n КFS1 с 1.0021000 на 1.0100000\n КFS2 с 0.9978000 на 0.9900000\n"
              " КFS3 с 1.0043000 на 1.0200000\n");
    EXPECT_NE(o.err.find("Изменение KFS записано и проверено."), std::string::npos) << o.err;
}

TEST(KfsWriteProgram, MeterOutOfCorrectionModeAnsweredNoEndsWithAMessage)
{
    const Outcome o = RunProgram("--simulate --kfs-write 0=1.1 --answer no");
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_TRUE(o.out.empty());
    EXPECT_NE(o.err.find("Запись отменена"), std::string::npos) << o.err;
    const Outcome usage = RunProgram("--simulate --kfs-write 9=1");
    EXPECT_EQ(usage.status, 2);
}

}  // namespace
}  // namespace rv::test
