// The speed of a bench of meters. In virtual time: a bench of 64 meters of every shipped kind completes with the
// protocols of 64 single runs on the verification page. Over pseudo-terminals: the runner verifying N simulated
// meters at once, each paced at 4800 baud, with the reverse direction: its wall time against the longest meter's
// line-time bound, its CPU time and its peak memory, for each N given.
// A plain program: bench_bench [PATH-OF-rivanta-verify [N ...]]   (default N: 1 4 16)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "RunBound.h"
#include "app/bench/TBench.h"
#include "app/verify/TFMainController.h"
#include "app/window/IPrompter.h"
#include "core/Locale.h"
#include "core/VirtualLoop.h"
#include "meter/FlashAddress.h"
#include "sim/BenchMeters.h"
#include "sim/MemoryLine.h"
#include "sim/MeterImage.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"


namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kBaud = 4800;

double MsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The verification page's prompter of a single run: the sensor given, No to every question, nothing shown.
class PagePrompter : public rv::IPrompter {
public:
    explicit PagePrompter(std::optional<int> sensor) : sensor_(sensor) {}
    void Message(const std::string&, const std::string&) override {}
    bool Question(const std::string&, const std::string&) override { return false; }
    rv::TAnswer QuestionCancel(const std::string&, const std::string&) override { return rv::anNo; }
    std::optional<int> ChooseSensor(rv::TSensorDialog, const std::vector<rv::SSensorChoice>& c) override
    {
        if (c.empty()) return std::nullopt;
        return sensor_.value_or(c.front().Position);
    }
    std::optional<std::string> SaveFileName(const rv::SSaveDialog&) override { return std::nullopt; }
    void ShowException(const std::exception&) override {}

private:
    std::optional<int> sensor_;
};

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

// One run of the meter alone on the verification page, with reverse; its protocol, or empty.
std::string SingleRun(const rv::sim::BenchMeter& m)
{
    rv::VirtualLoop loop;
    rv::sim::SimMeter meter(m.image);
    rv::sim::MemoryLine line(meter, &loop);
    line.SetOpen(false);
    PagePrompter prompter(m.sensor);
    rv::TFMainController ctl(line, prompter, &loop);
    ctl.SetChB_backChecked(true);
    ctl.SetSBOpenCloseDown(true);
    ctl.SBOpenCloseClick();
    if (!loop.RunUntil([&] { return ctl.Stage() == rv::msReady; }, 600'000)) return {};
    ctl.Button1Click();
    if (!loop.RunUntil([&] { return ctl.Stage() == rv::msDone || ctl.Stage() == rv::msStopped; }, 3'600'000))
        return {};
    return ctl.Stage() == rv::msDone ? Joined(ctl.View().Memo1Lines) : std::string();
}

// 64 meters of every kind on one bench in virtual time against their 64 single runs.
bool VirtualBench(int count)
{
    rv::SetDecimalSeparator(',');
    const auto table = rv::FlashAddressTable();
    std::vector<rv::sim::BenchMeter> meters = rv::sim::BenchMeters(count);
    std::map<std::string, std::unique_ptr<rv::sim::SimMeter>> sims;
    rv::VirtualLoop loop;
    rv::TBench bench(loop, [&](const rv::SBenchMeterOptions& o) {
        auto line = std::make_unique<rv::sim::MemoryLine>(*sims.at(o.Port), &loop);
        line->SetOpen(false);
        return line;
    });
    for (int i = 0; i < count; ++i) {
        rv::SBenchMeterOptions o;
        o.Port = "COM" + std::to_string(i + 1);
        o.Sensor = meters[static_cast<size_t>(i)].sensor;
        o.Reverse = true;
        // A meter of its own: the single run below starts from the same image anew.
        sims[o.Port] = std::make_unique<rv::sim::SimMeter>(rv::sim::BenchMeters(count)[static_cast<size_t>(i)].image);
        bench.Add(o);
    }
    auto t0 = Clock::now();
    bench.StartAll();
    const bool ended = loop.RunUntil([&] { return !bench.AnyRunning(); }, 3'600'000);
    const double benchReal = MsSince(t0);
    const double benchVirtual = static_cast<double>(loop.NowMs());
    t0 = Clock::now();
    int same = 0, complete = 0;
    uint64_t longest = 0;
    for (int i = 0; i < count; ++i) {
        const rv::TBenchMeter* m = bench.Meter(static_cast<size_t>(i));
        complete += m->Outcome() == rv::boComplete;
        longest = std::max(longest, m->DurationMs());
        same += Joined(m->Controller().View().Memo1Lines) == SingleRun(meters[static_cast<size_t>(i)]);
    }
    const double singleReal = MsSince(t0);
    rv::SetDecimalSeparator(0);
    std::printf("virtual time, %d meters with reverse: %s, %d complete, %d protocols the same as their single runs, "
                "flash table %s\n",
                count, ended ? "ended" : "DID NOT END", complete, same,
                rv::FlashAddressTable() == table ? "unchanged" : "CHANGED");
    std::printf("  the bench took %.1f s of line time (its longest meter %.1f s) in %.0f ms real; the %d single runs "
                "%.0f ms real\n",
                benchVirtual / 1000.0, static_cast<double>(longest) / 1000.0, benchReal, count, singleReal);
    return ended && complete == count && same == count && rv::FlashAddressTable() == table;
}

struct SFigures {
    int meters = 0;
    int exit = -1;
    int complete = 0;
    double wallMs = 0;
    double boundMs = 0;  // the longest meter's
    double cpuMs = 0;
    double scheduledMs = 0;
    long maxRssKiB = 0;
};

// The protocols of the runner's standard output, by port.
std::map<std::string, std::string> Protocols(const std::string& out)
{
    std::map<std::string, std::string> protocols;
    std::istringstream in(out);
    std::string line, port;
    while (std::getline(in, line)) {
        if (line.rfind("=== ", 0) == 0 && line.size() > 8) {
            port = line.substr(4, line.size() - 8);
            continue;
        }
        if (line.rfind("Порт ", 0) == 0) break;
        if (!port.empty()) protocols[port] += line + "\n";
    }
    return protocols;
}

// The runner verifying count meters at once, each on a pseudo-terminal paced at 4800 baud.
bool PtyBench(const char* program, int count, SFigures& f)
{
    struct Served {
        std::unique_ptr<rv::sim::PtyMeterServer> server;
        std::mutex mu;
        std::vector<rv::sim::PtyExchange> exchanges;
        uint16_t emulator = 0;
    };
    std::vector<std::unique_ptr<Served>> served;
    const std::string dir = "/tmp/bench_bench_" + std::to_string(::getpid());
    const std::string benchFile = dir + ".txt", outPath = dir + ".out", journalPath = dir + ".sqlite";
    std::ofstream file(benchFile, std::ios::trunc);
    for (const rv::sim::BenchMeter& m : rv::sim::BenchMeters(count)) {
        auto s = std::make_unique<Served>();
        rv::sim::PtyMeterOptions options;
        options.baud = kBaud;
        Served* into = s.get();
        options.onExchange = [into](const rv::sim::PtyExchange& e) {
            std::lock_guard<std::mutex> lk(into->mu);
            into->exchanges.push_back(e);
        };
        s->emulator = m.image->RamPointer(8);
        s->server = std::make_unique<rv::sim::PtyMeterServer>(std::make_unique<rv::sim::SimMeter>(m.image), options);
        file << s->server->SlavePath() << (m.sensor ? " --sensor " + std::to_string(*m.sensor) : "") << "\n";
        served.push_back(std::move(s));
    }
    file.close();

    const rv::benchmark::SProgramRun run =
        rv::benchmark::RunProgram({program, "--bench", benchFile, "--reverse", "--journal", journalPath}, outPath);
    if (!run.started) return false;
    f.meters = count;
    f.exit = run.exit;
    f.wallMs = run.wallMs;
    f.cpuMs = run.CpuMs();
    f.scheduledMs = run.scheduledMs;
    f.maxRssKiB = run.maxRssKiB;

    std::ifstream in(outPath);
    const std::map<std::string, std::string> protocols =
        Protocols(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    for (auto& s : served) {
        std::lock_guard<std::mutex> lk(s->mu);
        const auto p = protocols.find(s->server->SlavePath());
        const std::string protocol = p == protocols.end() ? std::string() : p->second;
        const rv::benchmark::SRunBound b =
            rv::benchmark::RunBound(s->exchanges, s->server->LineTimeMs(), s->emulator, protocol, kBaud);
        f.boundMs = std::max(f.boundMs, b.BoundMs());
        f.complete += rv::benchmark::CountLines(protocol, "Допустимая погрешность") > 0 &&
                      protocol.find("Поверка прервана") == std::string::npos;
    }
    for (const std::string& p : {benchFile, outPath, journalPath, journalPath + "-wal", journalPath + "-shm"})
        std::remove(p.c_str());
    return f.exit == 0 && f.complete == count;
}

}  // namespace

int main(int argc, char** argv)
{
    bool ok = VirtualBench(64);
    if (argc < 2) {
        std::printf("(give the path of rivanta-verify, and the bench sizes, to measure the runner over ptys)\n");
        return ok ? 0 : 1;
    }
    std::vector<int> sizes;
    for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {1, 4, 16};
    std::vector<SFigures> rows;
    for (int n : sizes) {
        SFigures f;
        ok = PtyBench(argv[1], n, f) && ok;
        rows.push_back(f);
        std::fprintf(stderr, "%d meters done\n", n);
    }
    std::printf("runner over ptys at %u baud, reverse, journal on:\n", kBaud);
    std::printf("  meters  exit  complete  wall s   longest bound s  wall/bound  CPU s (rusage)  %% of a core  "
                "run s (scheduler)  %% of a core  max RSS MiB\n");
    for (const SFigures& f : rows)
        std::printf("  %6d  %4d  %8d  %7.1f  %15.1f  %10.4f  %14.2f  %11.3f  %17.2f  %11.3f  %11.1f\n", f.meters, f.exit,
                    f.complete, f.wallMs / 1000.0, f.boundMs / 1000.0, f.wallMs / f.boundMs, f.cpuMs / 1000.0,
                    f.cpuMs / f.wallMs * 100.0, f.scheduledMs / 1000.0, f.scheduledMs / f.wallMs * 100.0,
                    static_cast<double>(f.maxRssKiB) / 1024.0);
    return ok ? 0 : 1;
}
