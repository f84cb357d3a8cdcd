// Running the runner program from the tests: its exit status, standard output and standard error, and a shipped
// meter description changed for one test.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "e2e/E2eSupport.h"

namespace rv::test {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the program with the C locale (a point as decimal separator) and nothing on standard input; standard error
// goes through a file of this test process.
inline Outcome RunProgram(const std::string& args)
{
    const std::string errPath = ::testing::TempDir() + "/rivanta-verify-stderr-" + std::to_string(::getpid()) + ".txt";
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

// The shipped meter description file with the first `from` replaced by `to`, written to a file of this test
// process; its path, or empty (a failure recorded) when `from` is not in the file or the copy cannot be written.
inline std::string ChangedMeter(const std::string& shipped, const std::string& from, const std::string& to)
{
    std::string json = ReadText(std::string(RIVANTA_SIM_METERS) + "/" + shipped);
    const size_t at = json.find(from);
    if (at == std::string::npos) {
        ADD_FAILURE() << shipped << " holds no " << from;
        return "";
    }
    json.replace(at, from.size(), to);
    const std::string path = ::testing::TempDir() + "/rivanta-meter-" + std::to_string(::getpid()) + "-" + shipped;
    std::ofstream file(path, std::ios::binary);
    file << json;
    if (!file.flush()) {
        ADD_FAILURE() << "cannot write " << path;
        return "";
    }
    return path;
}

}  // namespace rv::test
