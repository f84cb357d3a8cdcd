// The speed of a whole verification with the reverse direction: the run in virtual time (how much real time it
// takes), and the headless runner program against the simulated meter paced at 4800 baud on a pseudo-terminal:
// its wall time against the line-time bound, its CPU time and its peak memory.
// A plain program: bench_verify PATH-OF-rivanta-verify
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "RunBound.h"
#include "app/window/IPrompter.h"
#include "app/verify/TFMainController.h"
#include "core/VirtualLoop.h"
#include "sim/MemoryLine.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"


namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kBaud = 4800;

// Chooses the first sensor and answers No; nothing is shown.
class QuietPrompter : public rv::IPrompter {
public:
    void Message(const std::string&, const std::string&) override {}
    bool Question(const std::string&, const std::string&) override { return false; }
    rv::TAnswer QuestionCancel(const std::string&, const std::string&) override { return rv::anNo; }
    std::optional<int> ChooseSensor(rv::TSensorDialog, const std::vector<rv::SSensorChoice>& c) override
    {
        if (c.empty()) return std::nullopt;
        return c.front().Position;
    }
    std::optional<std::string> SaveFileName(const rv::SSaveDialog&) override { return std::nullopt; }
    void ShowException(const std::exception&) override {}
};

// One whole run with reverse in virtual time; the real and the virtual milliseconds it took.
bool VirtualRun(double& realMs, double& virtualMs)
{
    const auto t0 = Clock::now();
    rv::VirtualLoop loop;
    rv::sim::SimMeter meter(rv::sim::DefaultMeter());
    rv::sim::MemoryLine line(meter, &loop);
    line.SetOpen(false);
    QuietPrompter prompter;
    rv::TFMainController ctl(line, prompter, &loop);
    ctl.SetChB_backChecked(true);
    ctl.SetSBOpenCloseDown(true);
    ctl.SBOpenCloseClick();
    if (!loop.RunUntil([&] { return ctl.Stage() == rv::msReady; }, 600'000)) return false;
    ctl.Button1Click();
    if (!loop.RunUntil([&] { return ctl.Stage() == rv::msDone || ctl.Stage() == rv::msStopped; }, 3'600'000))
        return false;
    realMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    virtualMs = static_cast<double>(loop.NowMs());
    return ctl.Stage() == rv::msDone;
}

int ProgramRun(const char* program)
{
    std::mutex mu;
    std::vector<rv::sim::PtyExchange> exchanges;
    rv::sim::PtyMeterOptions options;
    options.baud = kBaud;
    options.onExchange = [&](const rv::sim::PtyExchange& e) {
        std::lock_guard<std::mutex> lk(mu);
        exchanges.push_back(e);
    };
    auto image = rv::sim::DefaultMeter();
    const uint16_t emulator = image->RamPointer(8);
    rv::sim::PtyMeterServer server(std::make_unique<rv::sim::SimMeter>(image), options);

    const std::string outPath = "/tmp/bench_verify_protocol.txt";
    const rv::benchmark::SProgramRun run =
        rv::benchmark::RunProgram({program, "--port", server.SlavePath(), "--reverse"}, outPath);
    if (!run.started) return 1;
    const double wallMs = run.wallMs;

    std::ifstream in(outPath);
    const std::string protocol((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    std::lock_guard<std::mutex> lk(mu);
    const rv::benchmark::SRunBound b = rv::benchmark::RunBound(exchanges, server.LineTimeMs(), emulator, protocol, kBaud);
    const int points = b.points, frames = b.frames, sweepFrames = b.sweepFrames, wakeUps = b.wakeUps;
    const double lineMs = b.lineMs, waitsMs = b.waitsMs, boundMs = b.BoundMs();
    const double cpuMs = run.CpuMs();

    std::printf(
        "runner over a pty at %u baud, reverse: exit %d, %d result blocks, %d frames (%d in the sweep), "
        "%d wake-ups\n",
        kBaud, run.exit, points, frames, sweepFrames, wakeUps);
    std::printf("  line time %.1f ms + prescribed waits %.1f ms = bound %.1f ms\n", lineMs, waitsMs, boundMs);
    std::printf("  wall time %.1f ms: %.3f %% above the bound\n", wallMs, (wallMs / boundMs - 1.0) * 100.0);
    std::printf("  runner CPU %.1f ms (user %.1f, system %.1f) = %.3f %% of the wall time\n", cpuMs, run.userMs,
                run.systemMs, cpuMs / wallMs * 100.0);
    std::printf("  runner peak memory (max RSS) %ld KiB\n", run.maxRssKiB);
    std::remove(outPath.c_str());
    return run.exit == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<double> real;
    double virtualMs = 0;
    for (int i = 0; i < 3; ++i) {
        double r = 0;
        if (!VirtualRun(r, virtualMs)) {
            std::fprintf(stderr, "the virtual-time run did not complete\n");
            return 1;
        }
        real.push_back(r);
    }
    std::sort(real.begin(), real.end());
    std::printf("virtual-time run with reverse: %.1f s of line time in %.0f ms real (best of 3; worst %.0f ms)\n",
                virtualMs / 1000.0, real.front(), real.back());
    if (argc < 2) {
        std::printf("(give the path of rivanta-verify to measure the runner over a pty)\n");
        return 0;
    }
    return ProgramRun(argv[1]);
}
