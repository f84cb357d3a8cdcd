// The runner program's KFS write against the simulated meter on a pseudo-terminal, over the real serial link:
// a verified write with exit status 0 and the final message on standard output, and a meter that is not put
// into correction mode ending with a non-zero status.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "e2e/E2eSupport.h"

namespace rv::test {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome RunKfsWrite(const std::string& args)
{
    const std::string errPath = ::testing::TempDir() + "/rivanta-kfs-stderr.txt";
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

// The shipped three-path meter, switched into correction mode.
std::string CorrectionModeMeter()
{
    std::string json = ReadText(std::string(RIVANTA_SIM_METERS) + "/three-path.json");
    const std::string status = "\"status\": 0";
    const size_t at = json.find(status);
    EXPECT_NE(at, std::string::npos);
    json.replace(at, status.size(), status + ", \"correctionMode\": true");
    const std::string path = ::testing::TempDir() + "/rivanta-kfs-meter.json";
    std::ofstream(path, std::ios::binary) << json;
    return path;
}

TEST(KfsWriteProgram, WritesThreeCoefficientsOverAPseudoTerminal)
{
    const std::string meter = CorrectionModeMeter();
    const Outcome o = RunKfsWrite("--simulate --meter " + meter + " --kfs-write '0=1.01;0,99;1.02'");
    std::remove(meter.c_str());
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out,
              "Произведено изменение\n КFS1 с 1.0021000 на 1.0100000\n КFS2 с 0.9978000 на 0.9900000\n"
              " КFS3 с 1.0043000 на 1.0200000\n");
    EXPECT_NE(o.err.find("Изменение KFS записано и проверено."), std::string::npos) << o.err;
}

TEST(KfsWriteProgram, MeterOutOfCorrectionModeAnsweredNoEndsWithAMessage)
{
    const Outcome o = RunKfsWrite("--simulate --kfs-write 0=1.1 --answer no");
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_TRUE(o.out.empty());
    EXPECT_NE(o.err.find("Запись отменена"), std::string::npos) << o.err;
    const Outcome usage = RunKfsWrite("--simulate --kfs-write 9=1");
    EXPECT_EQ(usage.status, 2);
}

}  // namespace
}  // namespace rv::test
