// The runner program against the simulated meter on a pseudo-terminal, over the real serial link: the
// protocol on standard output with exit status 0, and a refused emulator mode ending with a message and a
// non-zero status.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "app/MainRig.h"
#include "e2e/E2eSupport.h"

namespace rv::test {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the program with the C locale (a point as decimal separator); standard error goes to a file.
Outcome RunProgram(const std::string& args)
{
    const std::string errPath = ::testing::TempDir() + "/rivanta-verify-stderr.txt";
    const std::string command =
        "LC_ALL=C " + std::string(RIVANTA_VERIFY_PROGRAM) + " " + args + " 2>" + errPath + " </dev/null";
    Outcome o;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return o;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
    const int rc = ::pclose(p);
    o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    o.err = ReadText(errPath);
    std::remove(errPath.c_str());
    return o;
}

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
    std::string json = ReadText(std::string(RIVANTA_SIM_METERS) + "/default.json");
    const std::string on = "\"emulatorMode\": true";
    const size_t at = json.find(on);
    ASSERT_NE(at, std::string::npos);
    json.replace(at, on.size(), "\"emulatorMode\": false");
    const std::string meter = ::testing::TempDir() + "/rivanta-meter-normal-mode.json";
    {
        std::FILE* f = std::fopen(meter.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(json.data(), 1, json.size(), f);
        std::fclose(f);
    }
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
