// rivanta-meter-sim: serves a simulated meter on a pseudo-terminal until SIGINT or SIGTERM. The
// first line printed is the path a program opens as its serial port; with --count N, N meters are served at
// once, one pseudo-terminal each, their paths printed one per line.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sim/BenchMeters.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/MeterFiles.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"

namespace {

constexpr uint32_t kMaxCount = 64;

const char kUsage[] =
    "usage: rivanta-meter-sim [options]\n"
    "  --meter NAME|FILE   meter description (JSON): a file, or the name of a shipped meter (default,\n"
    "                      three-path, deviation ...) in the rivanta/meters folder of ~/.local/share,\n"
    "                      /usr/local/share or /usr/share; the built-in default meter without it\n"
    "  --count N           serve N meters at once (1..64), one pseudo-terminal each, the paths printed\n"
    "                      one per line: without --meter the shipped meters in turn, each with a serial\n"
    "                      number of its own (default, three-path, deviation, ...); with --meter N copies\n"
    "                      of it, serial numbers counting up; the fault seeds count up from --seed\n"
    "  --bench-file FILE   with --count: write a bench file for rivanta-verify --bench, a line per meter\n"
    "                      with its path and the sensor to verify\n"
    "  --no-echo           the line does not return the PC's own bytes\n"
    "  --baud N            pace the line at 10 bit times a byte at N baud; 0 = unpaced (default)\n"
    "  --turnaround-us N   delay from a request's last byte to the answer\n"
    "  --seed N            seed of the fault draws (default 1)\n"
    "  --drop P            probability that an answer is not sent (0..1)\n"
    "  --bad-checksum P    probability that a framed answer has a wrong checksum\n"
    "  --garbage P         probability that 1..8 random bytes precede an answer\n"
    "  --late P            probability that an answer is delayed by --late-ms (default 2000)\n"
    "  --late-ms N\n"
    "  --log FILE          one line per exchange: time, request, answer and fault, as hex (with --count\n"
    "                      one file per meter, FILE.1, FILE.2, ...)\n"
    "  --help              this help\n"
    "  --version           the program's version\n";

[[noreturn]] void Usage(const std::string& error)
{
    std::fprintf(stderr, "rivanta-meter-sim: %s\n%s", error.c_str(), kUsage);
    std::exit(2);
}

uint32_t Unsigned(const char* option, const char* text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (!*text || *end || errno || v > 0xFFFFFFFFull || text[0] == '-')
        Usage(std::string(option) + ": not a number: " + text);
    return static_cast<uint32_t>(v);
}

double Probability(const char* option, const char* text)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (!*text || *end || !std::isfinite(v) || v < 0 || v > 1)
        Usage(std::string(option) + ": not a probability 0..1: " + text);
    return v;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string meterFile;
    std::string benchFile;
    uint32_t count = 0;
    rv::sim::FaultPlan faults;
    rv::sim::PtyMeterOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--version") {
            std::puts("rivanta-meter-sim " RIVANTA_VERSION);
            return 0;
        } else if (a == "--meter")
            meterFile = value();
        else if (a == "--count") {
            count = Unsigned("--count", value());
            if (count < 1 || count > kMaxCount) Usage("--count: from 1 to " + std::to_string(kMaxCount));
        } else if (a == "--bench-file")
            benchFile = value();
        else if (a == "--no-echo")
            options.echo = false;
        else if (a == "--baud")
            options.baud = Unsigned("--baud", value());
        else if (a == "--turnaround-us")
            options.turnaroundUs = Unsigned("--turnaround-us", value());
        else if (a == "--seed")
            faults.seed = Unsigned("--seed", value());
        else if (a == "--drop")
            faults.dropAnswer = Probability("--drop", value());
        else if (a == "--bad-checksum")
            faults.badChecksum = Probability("--bad-checksum", value());
        else if (a == "--garbage")
            faults.garbage = Probability("--garbage", value());
        else if (a == "--late")
            faults.late = Probability("--late", value());
        else if (a == "--late-ms")
            faults.lateMs = Unsigned("--late-ms", value());
        else if (a == "--log")
            options.logPath = value();
        else
            Usage("unknown option " + a);
    }
    if (!benchFile.empty() && count == 0) Usage("--bench-file needs --count");

    // Blocked before the server thread starts, so only the wait below takes the signals.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    // One server per meter; pseudo-terminals are opened one after another.
    std::vector<std::unique_ptr<rv::sim::PtyMeterServer>> servers;
    try {
        const std::vector<rv::sim::BenchMeter> meters =
            count == 0 && meterFile.empty() ? std::vector<rv::sim::BenchMeter>{{rv::sim::DefaultMeter(), {}, {}}}
                                            : rv::sim::BenchMeters(static_cast<int>(std::max(count, 1u)), meterFile);
        for (size_t i = 0; i < meters.size(); ++i) {
            rv::sim::FaultPlan plan = faults;
            plan.seed = faults.seed + static_cast<uint32_t>(i);
            rv::sim::PtyMeterOptions own = options;
            if (count > 0 && !options.logPath.empty()) own.logPath = options.logPath + "." + std::to_string(i + 1);
            servers.push_back(std::make_unique<rv::sim::PtyMeterServer>(
                std::make_unique<rv::sim::SimMeter>(meters[i].image, plan), own));
        }
        if (!benchFile.empty()) {
            std::ofstream bench(benchFile, std::ios::trunc);
            bench << "# rivanta-meter-sim --count " << count << ": a port per line, with the sensor to verify\n";
            for (size_t i = 0; i < servers.size(); ++i) {
                bench << servers[i]->SlavePath();
                if (meters[i].sensor) bench << " --sensor " << *meters[i].sensor;
                bench << "\n";
            }
            if (!bench.flush()) throw std::runtime_error("cannot write " + benchFile);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rivanta-meter-sim: %s\n", e.what());
        return 1;
    }
    for (const auto& server : servers) std::printf("%s\n", server->SlavePath().c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&stop, &sig);
    for (auto& server : servers) {
        const uint64_t exchanges = server->Exchanges();
        const double lineMs = server->LineTimeMs();
        const std::string path = server->SlavePath();
        server.reset();
        if (count > 0)
            std::printf("%s: exchanges %llu, line time bound %.3f ms\n", path.c_str(),
                        static_cast<unsigned long long>(exchanges), lineMs);
        else
            std::printf("exchanges %llu, line time bound %.3f ms\n", static_cast<unsigned long long>(exchanges),
                        lineMs);
    }
    return 0;
}
