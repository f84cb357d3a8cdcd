// The runner program against the simulated meter on a pseudo-terminal, over the real serial link: the
// protocol on standard output with exit status 0, and a refused emulator mode ending with a message and a
// non-zero status.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "app/MainRig.h"
#include "e2e/ProgramRun.h"

namespace rv::test {
namespace {

TEST(RunnerProgram, VerifiesTheBuiltInSimulatedMeterOverAPseudoTerminal)
{
    SetDecimalSeparator('.');
    MainRig rig;
    ASSERT_TRUE(rig.Verify(false, true));
    SetDecimalSeparator(0);

    const Outcome o = RunProgram("--simulate --extra-info --trace");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, rig.Protocol());
    // The trace of the line goes to standard error with the run's messages.
    EXPECT_NE(o.err.find("wake-up"), std::string::npos) << o.err.substr(0, 2000);
    EXPECT_NE(o.err.find("Поверка завершена."), std::string::npos);
}

TEST(RunnerProgram, MeterOutOfEmulatorModeAnsweredNoEndsWithAMessage)
{
    const std::string meter = ChangedMeter("default.json", "\"emulatorMode\": true", "\"emulatorMode\": false");
    ASSERT_FALSE(meter.empty());
    const Outcome o = RunProgram("--simulate --meter " + meter + " --answer no");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("Для проверки войдите в режим имитатора."), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("Прибор не в режиме имитатора: поверка отменена."), std::string::npos) << o.err;
    // Only the header reached standard output.
    EXPECT_EQ(o.out.rfind("Серийный номер счетчика №21345\n", 0), 0u);
    EXPECT_EQ(o.out.find("Номинальное"), std::string::npos);
    std::remove(meter.c_str());

    const Outcome usage = RunProgram("--simulate --sensor 9");
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.out, "");
}

}  // namespace
}  // namespace rv::test
