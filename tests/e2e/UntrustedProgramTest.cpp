// The runner program refuses arguments it cannot use before it opens the port: a port that does not exist is never
// reached, and the status is that of bad arguments.
#include <string>

#include <gtest/gtest.h>

#include "e2e/ProgramRun.h"

namespace rv::test {
namespace {

TEST(UntrustedProgram, BadReportAndKfsValuesAreRefusedBeforeThePort)
{
    const Outcome value = RunProgram("--port /dev/rivanta-no-such-port --kfs-write 0=abc");
    EXPECT_EQ(value.status, 2);
    EXPECT_NE(value.err.find("rivanta-verify: Значение \"abc\" не является числом."), std::string::npos) << value.err;
    EXPECT_EQ(value.err.find("/dev/rivanta-no-such-port"), std::string::npos) << value.err;
    EXPECT_EQ(value.out, "");

    const Outcome report = RunProgram("--port /dev/rivanta-no-such-port --report /dev/null");
    EXPECT_EQ(report.status, 2);
    EXPECT_NE(report.err.find("Отчет \"/dev/null\" не является обычным файлом"), std::string::npos) << report.err;
    EXPECT_EQ(report.out, "");

    // The port itself is refused with the status of its own.
    const Outcome port = RunProgram("--port /dev/rivanta-no-such-port");
    EXPECT_EQ(port.status, 3) << port.err;
}

}  // namespace
}  // namespace rv::test
