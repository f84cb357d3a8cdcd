// Line benchmarks over a pseudo-terminal, as a plain program (run it from a release build):
//   bench_link [seconds]
// 1. Turnaround: a chain of 1,000 flash reads by the engine through the device link and the driver
//    against the unpaced simulated meter; from the last byte of an answer leaving the meter to the
//    first byte of the next request reaching it, median and 99th percentile.
// 2. CPU used by an open, idle port (the loop running, the engine's wake-up timer ticking) and by a
//    ReadData waiting for bytes that never come, each over the given seconds (default 30).
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "core/PosixLoop.h"
#include "protocol/TRurIvaQs.h"
#include "serial/TNewDevCom.h"
#include "serial/TXComm.h"
#include "sim/MeterDescription.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"

using namespace rv;

namespace {

double CpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

struct Rig {
    PosixLoop loop;
    std::unique_ptr<sim::PtyMeterServer> server;
    std::mutex mu;
    std::vector<sim::PtyExchange> exchanges;
    TNewDevCom link{nullptr, &loop};
    TRurIvaQs engine{nullptr, &loop};

    Rig()
    {
        sim::PtyMeterOptions options;
        options.onExchange = [this](const sim::PtyExchange& e) {
            std::lock_guard<std::mutex> lk(mu);
            exchanges.push_back(e);
        };
        server = std::make_unique<sim::PtyMeterServer>(std::make_unique<sim::SimMeter>(sim::DefaultMeter()), options);
        engine.SetDeviceComm(&link);
        engine.SetMasterNetAddress(0xF0);
        engine.SetSlaveNetAddress(0xC9);
        engine.SetReceiving_back(true);
        engine.SetTimeOut(1500);
        engine.SetTimePackage(1);
        link.SetCommNet(server->SlavePath());
        engine.Initialization();
        link.SetOpen(true);
        if (!link.GetOpen()) {
            std::fprintf(stderr, "bench_link: %s\n", link.GetOpenError().c_str());
            std::exit(1);
        }
    }
    ~Rig()
    {
        engine.BreakTransmit();
        link.SetOpen(false);
    }
};

void Turnaround()
{
    constexpr int kReads = 1000;
    Rig rig;
    int done = 0;
    rig.engine.OnReceiveExecuted = [&](short, unsigned char*) {
        if (++done < kReads) rig.engine.ReadFlashLarge(0x100u + 7u * static_cast<unsigned>(done % 50), 100);
    };
    rig.engine.ReadFlashLarge(0x100, 100);
    if (!rig.loop.RunUntil([&] { return done == kReads; }, 120000)) {
        std::fprintf(stderr, "bench_link: the read chain stalled at %d\n", done);
        std::exit(1);
    }
    std::lock_guard<std::mutex> lk(rig.mu);
    std::vector<double> ms;
    for (size_t i = 0; i + 1 < rig.exchanges.size(); ++i)
        ms.push_back(static_cast<double>(rig.exchanges[i + 1].firstRequestUs - rig.exchanges[i].lastAnswerUs) / 1000.0);
    std::printf(
        "turnaround over a pty, %zu gaps in a chain of %d reads: median %.3f ms, p99 %.3f ms, max %.3f ms"
        " (repetitions %d)\n",
        ms.size(), kReads, Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0),
        rig.engine.GetRepetitionCounter());
}

void IdlePort(int seconds)
{
    Rig rig;
    const double cpu0 = CpuMs();
    rig.loop.RunFor(static_cast<uint64_t>(seconds) * 1000);
    const double used = CpuMs() - cpu0;
    std::printf("open idle port (loop, event thread, simulator thread) over %d s: %.1f ms CPU = %.4f %% of a core\n",
                seconds, used, used / (seconds * 10.0));
}

void WaitingRead(int seconds)
{
    PosixLoop loop;
    auto server = std::make_unique<sim::PtyMeterServer>(std::make_unique<sim::SimMeter>(sim::DefaultMeter()));
    TXComm comm;
    comm.SetDeviceName(server->SlavePath());
    comm.OpenDevice();
    uint8_t b = 0;
    const double cpu0 = CpuMs();
    const uint32_t got = comm.ReadDataEx(&b, 1, static_cast<uint32_t>(seconds) * 1000);
    const double used = CpuMs() - cpu0;
    comm.CloseDevice();
    std::printf("ReadData waiting %d s for a byte (got %u): %.1f ms CPU = %.4f %% of a core\n", seconds, got, used,
                used / (seconds * 10.0));
}

}  // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    Turnaround();
    IdlePort(seconds);
    WaitingRead(seconds);
    return 0;
}
