// A full hour-archive read (1080 values) from the simulated meter at 4800 baud over the in-memory
// line, in virtual time: its virtual line time against the bound of the bytes on the line, and the
// real time the component, the engine, the line and the simulated meter take for it.
//
// The bound: every request and answer byte at 10 bit times (the echo comes back while the request
// goes out, so it adds nothing), plus TimePackage for each request.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "core/VirtualLoop.h"
#include "fakes/MemoryLineSupport.h"
#include "meter/TRurIvaQs_6x6.h"
#include "sim/MemoryLine.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace {

constexpr uint32_t kHourLong = 0x7BC0;  // the default meter's 4-byte hour ring, 1085 records written

struct Rig {
    Rig() : meter(rv::sim::DefaultMeter()), line(meter, &loop), net(nullptr, &loop)
    {
        rv::test::ConnectAsMainWindow(net, line);  // 4800 baud
        net.OnArhivesHourLong = [this](int count, const int32_t*) { values = count; };
        net.OnArhivesV2HourLong = [this](int count, const int32_t*) { values = count; };
        // The archive pointers first; this also takes the wake-up byte out of the reads measured.
        net.GetFArhives();
        loop.RunUntil([this] { return !net.GetDecoding(); }, 10'000);
    }

    // One read; returns its virtual time in ms and sets boundMs from the bytes it put on the line.
    double Read(bool layout2, double& boundMs)
    {
        values = -1;
        line.ClearLog();
        const uint64_t start = loop.NowMs();
        if (layout2)
            net.GetArrayHourLongV2(kHourLong, 0, 0, 4);
        else
            net.GetArrayHourLong(kHourLong, 0, 0);
        loop.RunUntil([this] { return values >= 0; }, 600'000);
        const double tookMs = static_cast<double>(loop.NowMs() - start);

        // Both read frames carry the byte count asked after the 32-bit address; the answer is that
        // many bytes and 5 more.
        uint64_t bytes = 0;
        for (const auto& w : line.Writes()) bytes += w.bytes.size();
        const std::vector<rv::test::SentRequest> reads = rv::test::SentRequests(line);
        for (const rv::test::SentRequest& r : reads) bytes += r.CountAfter(4) + 5u;
        requests = reads.size();
        boundMs =
            static_cast<double>(bytes) * 10.0 * 1000.0 / 4800.0 + static_cast<double>(requests) * net.GetTimePackage();
        return tookMs;
    }

    rv::VirtualLoop loop;
    rv::sim::SimMeter meter;
    rv::sim::MemoryLine line;
    rv::TRurIvaQs_6x6 net;
    int values = -1;
    size_t requests = 0;
};

void BM_HourArchiveRead(benchmark::State& state)
{
    const bool layout2 = state.range(0) != 0;
    Rig rig;
    double virtualMs = 0, boundMs = 0;
    for (auto _ : state) virtualMs = rig.Read(layout2, boundMs);
    if (rig.values != 1080) state.SkipWithError("the read did not deliver 1080 values");
    state.SetLabel(layout2 ? "layout 2 (0x90)" : "layout 1 (flash)");
    state.counters["values"] = rig.values;
    state.counters["requests"] = static_cast<double>(rig.requests);
    state.counters["virtual_ms"] = virtualMs;
    state.counters["bound_ms"] = boundMs;
    state.counters["virtual/bound"] = virtualMs / boundMs;
}
BENCHMARK(BM_HourArchiveRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
