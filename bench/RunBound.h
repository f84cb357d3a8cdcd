// The line-time bound of one verification run against a simulated meter on a pseudo-terminal, from the exchanges
// its server saw: every request and answer byte at 10 bit times (the echo overlapping the request), plus the waits
// the run prescribes. No program can verify that meter faster; a bench of meters, no faster than its slowest.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/Frame.h"
#include "sim/PtyMeterServer.h"

extern char** environ;

namespace rv::benchmark {

struct SRunBound {
    int frames = 0;
    int sweepFrames = 0;  // the frames between the first write of the sweep's delay 0 and the switch-off
    int wakeUps = 0;
    int points = 0;  // result blocks of the protocol
    double lineMs = 0;
    double waitsMs = 0;
    double BoundMs() const { return lineMs + waitsMs; }
};

// How often head starts a line of text.
inline int CountLines(const std::string& text, const std::string& head)
{
    int n = 0;
    for (size_t at = 0; (at = text.find(head, at)) != std::string::npos; at += head.size()) ++n;
    return n;
}

// exchanges: every exchange of the run, in order; lineTimeMs: the server's LineTimeMs(); emulator: the meter's RAM
// address of its emulator block; protocol: the run's protocol text.
inline SRunBound RunBound(const std::vector<sim::PtyExchange>& exchanges, double lineTimeMs, uint16_t emulator,
                          const std::string& protocol, uint32_t baud)
{
    struct Frame {
        bool wakeUp = false;
        uint8_t command = 0;
        std::vector<uint8_t> params;
    };
    // A request as the server saw it: an optional wake-up byte, then destination, L, command, parameters.
    const auto parse = [](const std::vector<uint8_t>& request) {
        Frame f;
        size_t at = 0;
        while (at < request.size() && request[at] == 0x00) {
            f.wakeUp = true;
            ++at;
        }
        if (request.size() < at + 5) return f;
        const size_t L = request[at + 1];
        f.command = request[at + 2];
        if (request.size() >= at + 3 + L - 1) f.params.assign(request.begin() + at + 3, request.begin() + at + 2 + L);
        return f;
    };
    SRunBound b;
    int sweepStart = -1, sweepEnd = -1;
    for (size_t i = 0; i < exchanges.size(); ++i) {
        const Frame f = parse(exchanges[i].request);
        if (f.wakeUp) ++b.wakeUps;
        if (f.command != 0x20 || f.params.size() < 11 || GetU16(f.params.data()) != emulator) continue;
        const uint8_t* block = f.params.data() + 3;
        const bool on = (block[1] & 0x60) == 0x60 || (block[5] & 0x60) == 0x60;
        if (sweepStart < 0 && on && (block[0] == 0 || block[4] == 0) && (block[0] != 4 && block[4] != 4))
            sweepStart = static_cast<int>(i);
        if (!on) sweepEnd = static_cast<int>(i);
    }
    const double byteMs = 10.0 * 1000.0 / baud;
    b.frames = static_cast<int>(exchanges.size());
    b.sweepFrames = sweepStart >= 0 && sweepEnd > sweepStart ? sweepEnd - sweepStart : 0;
    b.points = CountLines(protocol, "Измеренное значение расхода ");
    // A wake-up byte goes out during its own pause. The waits of the run: the two connect pauses, 100 ms per
    // wake-up, 5 s before each point's results, 1 ms before every frame, 1 ms before each sweep request, and the
    // window timers of the readout, the emulator checks, the run start and the series start.
    b.lineMs = lineTimeMs - b.wakeUps * byteMs;
    b.waitsMs = 200.0 + 100.0 * b.wakeUps + 5000.0 * b.points + b.frames + b.sweepFrames + 10 + 2 * 10 + 1 + 1;
    return b;
}

// A program run to its end with its standard output into a file and its standard error thrown away: its exit
// status, wall time, CPU time and peak memory.
struct SProgramRun {
    bool started = false;
    int exit = -1;  // -1 when it did not exit by itself
    double wallMs = 0;
    double userMs = 0;
    double systemMs = 0;
    long maxRssKiB = 0;  // the program's own peak (VmHWM), looked at four times a second
    // The run time the scheduler counted for the program's threads, looked at four times a second: the rusage
    // times are a whole clock tick charged to whichever thread a tick finds running, which overstates a program
    // that wakes often for little work.
    double scheduledMs = 0;
    double CpuMs() const { return userMs + systemMs; }
};

inline SProgramRun RunProgram(std::vector<std::string> args, const std::string& outPath)
{
    SProgramRun run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    run.started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!run.started) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        return run;
    }
    // The peak memory from the program's own status: the rusage of a child spawned by this process counts this
    // process's peak as well, since the child shared its memory until the exec.
    std::mutex mu;
    std::condition_variable cv;
    bool ended = false;
    std::atomic<long> peak{0};
    std::atomic<double> scheduled{0};
    std::thread watch([&] {
        const std::string proc = "/proc/" + std::to_string(pid);
        std::unique_lock<std::mutex> lk(mu);
        do {
            std::ifstream in(proc + "/status");
            for (std::string line; std::getline(in, line);)
                if (line.rfind("VmHWM:", 0) == 0) peak = std::max(peak.load(), std::stol(line.substr(6)));
            double ns = 0;
            std::error_code ec;
            for (const auto& task : std::filesystem::directory_iterator(proc + "/task", ec)) {
                std::ifstream stat(task.path() / "schedstat");
                double taskNs = 0;
                if (stat >> taskNs) ns += taskNs;
            }
            scheduled = std::max(scheduled.load(), ns / 1e6);
        } while (!cv.wait_for(lk, std::chrono::milliseconds(250), [&] { return ended; }));
    });
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    {
        std::lock_guard<std::mutex> lk(mu);
        ended = true;
    }
    cv.notify_one();
    watch.join();
    run.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.userMs = ru.ru_utime.tv_sec * 1000.0 + ru.ru_utime.tv_usec / 1000.0;
    run.systemMs = ru.ru_stime.tv_sec * 1000.0 + ru.ru_stime.tv_usec / 1000.0;
    run.maxRssKiB = peak.load();
    run.scheduledMs = scheduled.load();
    return run;
}

}  // namespace rv::benchmark
