// The bench of the headless runner on the Qt event loop.
#include "app/runner/BenchProgram.h"

#include "app/runner/RunnerOptions.h"
#include "app/runner/RunnerProgram.h"
#include "app/runner/TBenchRun.h"
#include "core/qt/QtLoop.h"
#include "serial/TNewDevCom.h"
#include "sim/BenchMeters.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"

#include <iostream>
#include <memory>
#include <vector>

namespace rv {

namespace {

// The simulated meters of --simulate N, each served on a pseudo-terminal of its own, and the bench's meters on them.
bool Simulate(const SVerifyOptions& options, std::vector<std::unique_ptr<sim::PtyMeterServer>>& servers,
              std::vector<SBenchMeterOptions>& meters)
{
    try {
        for (sim::BenchMeter& m : sim::BenchMeters(options.SimulateCount, options.MeterFile)) {
            servers.push_back(std::make_unique<sim::PtyMeterServer>(std::make_unique<sim::SimMeter>(m.image)));
            SBenchMeterOptions meter;
            meter.Port = servers.back()->SlavePath();
            meter.Sensor = options.Sensor ? options.Sensor : m.sensor;
            meter.Reverse = options.Reverse;
            meter.ExtraInfo = options.ExtraInfo;
            meter.AnswerYes = options.AnswerYes;
            meters.push_back(meter);
        }
    } catch (const std::exception& e) {
        std::cerr << "rivanta-verify: имитатор прибора не запущен: " << e.what() << "\n";
        return false;
    }
    return true;
}

}  // namespace

int RunBenchProgram(const SVerifyOptions& options, journal::TJournal* journal, const SRunRecordContext& context)
{
    std::vector<SBenchMeterOptions> meters;
    std::vector<std::unique_ptr<sim::PtyMeterServer>> servers;
    std::string error;
    if (options.Simulate) {
        if (!Simulate(options, servers, meters)) return veUsage;
    } else if (!TBenchRun::MetersOf(options, meters, error)) {
        std::cerr << "rivanta-verify: " << error << "\n";
        return veUsage;
    }
    QtLoop loop;
    TBenchRun run(meters, options, std::cout, std::cerr);
    // The meters go before the simulators serving them.
    return RunJob(run, [&] {
        run.Start(
            loop, [&loop](const SBenchMeterOptions&) { return std::make_unique<TNewDevCom>(nullptr, &loop); },
            journal, context);
    });
}

}  // namespace rv
