// The runner program stopped by a signal, against its simulated meter on a pseudo-terminal, with its standard error
// on a terminal of its own: the progress line is drawn there, and SIGINT in the middle of the sweep ends the run
// with the emulation switched off, the interruption line last on standard output and exit status 5.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/runner/THeadlessRun.h"
#include "fakes/Pty.h"

extern char** environ;

namespace rv::test {
namespace {

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
    bool signalled = false;
};

// Runs the program with standard output on a pipe and standard error on the terminal; when standard error first
// shows `when`, sends the signal. Gives up (and kills the program) after limitMs.
Finished RunAndSignal(const std::vector<std::string>& args, const std::string& when, int signal, int limitMs)
{
    Finished f;
    Pty terminal;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return f;
    // Everything the child needs is made before the fork.
    std::vector<std::string> env = {"LC_ALL=C"};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("LC_ALL=", 0) != 0) env.emplace_back(*e);
    std::vector<std::string> argStrings = {RIVANTA_VERIFY_PROGRAM};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (std::string& a : argStrings) argv.push_back(a.data());
    for (std::string& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const std::string errPath = terminal.SlavePath();

    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(errPath.c_str(), O_RDWR | O_NOCTTY);
        const int in = open("/dev/null", O_RDONLY);
        if (err < 0 || in < 0) _exit(126);
        dup2(in, 0);
        dup2(out[1], 1);
        dup2(err, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return f;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    bool outOpen = true;
    int waited = 0;
    while (true) {
        // Both are drained as the program writes: a full terminal would stop it.
        pollfd p[2] = {{out[0], static_cast<short>(outOpen ? POLLIN : 0), 0}, {terminal.Master(), POLLIN, 0}};
        poll(p, 2, 50);
        char buf[4096];
        if (outOpen && (p[0].revents & (POLLIN | POLLHUP))) {
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n > 0)
                f.out.append(buf, static_cast<size_t>(n));
            else if (n == 0)
                outOpen = false;
        }
        if (p[1].revents & POLLIN) {
            const ssize_t n = read(terminal.Master(), buf, sizeof buf);
            if (n > 0) f.err.append(buf, static_cast<size_t>(n));
        }
        if (!f.signalled && f.err.find(when) != std::string::npos) {
            kill(pid, signal);
            f.signalled = true;
        }
        if (!outOpen && waitpid(pid, &waited, WNOHANG) == pid) break;
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &waited, 0);
            ADD_FAILURE() << "the program did not end in time";
            break;
        }
    }
    close(out[0]);
    const std::string rest = terminal.Read(1 << 20, 200);
    f.err += rest;
    f.status = WIFEXITED(waited) ? WEXITSTATUS(waited) : -1;
    return f;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

TEST(RunnerSignal, SigintInTheSweepSwitchesTheEmulationOffAndEndsWithStatusFive)
{
    const Finished f = RunAndSignal({"--simulate"}, "Развертка задержек 3 из", SIGINT, 60'000);
    ASSERT_TRUE(f.signalled) << f.err;
    EXPECT_EQ(f.status, veStopped) << f.err;
    const std::vector<std::string> lines = Lines(f.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Серийный номер счетчика №21345");
    // The run stopped in the sweep, and the meter took the switch-off: nothing is said to be left on.
    const std::string& last = lines.back();
    EXPECT_EQ(last.rfind("Поверка прервана: получен сигнал завершения (Развертка задержек ", 0), 0u) << last;
    EXPECT_EQ(last.substr(last.size() - 2), ").") << last;
    EXPECT_EQ(f.out.find("Номинальное"), std::string::npos);
    EXPECT_NE(f.err.find("Остановка: получен сигнал завершения"), std::string::npos) << f.err;
    // On a terminal the course of the run is one line drawn over itself.
    EXPECT_NE(f.err.find("\r\033[K["), std::string::npos);
    EXPECT_NE(f.err.find(" % "), std::string::npos);
}

}  // namespace
}  // namespace rv::test
