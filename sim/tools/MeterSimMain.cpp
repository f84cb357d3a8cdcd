// rivanta-meter-sim: serves a simulated meter on a pseudo-terminal until SIGINT or SIGTERM. The
// first line printed is the path a program opens as its serial port.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "sim/MeterDescription.h"
#include "sim/MeterFiles.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"

namespace {

const char kUsage[] =
    "usage: rivanta-meter-sim [options]\n"
    "  --meter NAME|FILE   meter description (JSON): a file, or the name of a shipped meter (default,\n"
    "                      three-path, deviation ...) in the rivanta/meters folder of ~/.local/share,\n"
    "                      /usr/local/share or /usr/share; the built-in default meter without it\n"
    "  --no-echo           the line does not return the PC's own bytes\n"
    "  --baud N            pace the line at 10 bit times a byte at N baud; 0 = unpaced (default)\n"
    "  --turnaround-us N   delay from a request's last byte to the answer\n"
    "  --seed N            seed of the fault draws (default 1)\n"
    "  --drop P            probability that an answer is not sent (0..1)\n"
    "  --bad-checksum P    probability that a framed answer has a wrong checksum\n"
    "  --garbage P         probability that 1..8 random bytes precede an answer\n"
    "  --late P            probability that an answer is delayed by --late-ms (default 2000)\n"
    "  --late-ms N\n"
    "  --log FILE          one line per exchange: time, request, answer and fault, as hex\n"
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

    // Blocked before the server thread starts, so only the wait below takes the signals.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::unique_ptr<rv::sim::PtyMeterServer> server;
    try {
        auto image =
            meterFile.empty() ? rv::sim::DefaultMeter() : rv::sim::LoadMeter(rv::sim::FindMeterFile(meterFile));
        server = std::make_unique<rv::sim::PtyMeterServer>(std::make_unique<rv::sim::SimMeter>(image, faults), options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rivanta-meter-sim: %s\n", e.what());
        return 1;
    }
    std::printf("%s\n", server->SlavePath().c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&stop, &sig);
    const uint64_t exchanges = server->Exchanges();
    const double lineMs = server->LineTimeMs();
    server.reset();
    std::printf("exchanges %llu, line time bound %.3f ms\n", static_cast<unsigned long long>(exchanges), lineMs);
    return 0;
}
