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

// The program's data and settings folders for this test process: its journal and its laboratory settings go
// there, never to the user's own.
inline std::string ProgramHome()
{
    return ::testing::TempDir() + "/rivanta-home-" + std::to_string(::getpid());
}

// The environment the program runs in: the C locale (a point as decimal separator) and ProgramHome.
inline std::string ProgramEnvironment()
{
    return "LC_ALL=C XDG_DATA_HOME=" + ProgramHome() + "/data XDG_CONFIG_HOME=" + ProgramHome() + "/config ";
}

// Runs the program with nothing on standard input; standard error goes through a file of this test process.
inline Outcome RunProgram(const std::string& args)
{
    const std::string errPath = ::testing::TempDir() + "/rivanta-verify-stderr-" + std::to_string(::getpid()) + ".txt";
    const std::string command =
        ProgramEnvironment() + std::string(RIVANTA_VERIFY_PROGRAM) + " " + args + " 2>" + errPath + " </dev/null";
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

// Starts the program in the background with its output to files; its process id (it is the program itself, not a
// shell), or -1. Wait for it with FinishProgram.
inline pid_t StartProgram(const std::string& args, const std::string& outPath, const std::string& errPath)
{
    const std::string command = "exec env " + ProgramEnvironment() + std::string(RIVANTA_VERIFY_PROGRAM) + " " +
                                args + " >" + outPath + " 2>" + errPath + " </dev/null";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// Waits for a program StartProgram started; its exit status, or -1 when a signal ended it.
inline int FinishProgram(pid_t pid)
{
    int rc = 0;
    if (::waitpid(pid, &rc, 0) != pid) return -1;
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
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
