// The runner program's shared start-up on the Qt event loop.
#include "app/runner/RunnerProgram.h"

#include "app/runner/RunnerOptions.h"
#include "app/runner/THeadlessRun.h"
#include "protocol/TraceFormat.h"
#include "sim/MeterDescription.h"
#include "sim/MeterFiles.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"

#include <QCoreApplication>
#include <QTimer>

#include <exception>
#include <iostream>

namespace rv {

std::optional<int> ArgumentsExit(bool parsed, const std::string& error, const SRunnerOptions& options)
{
    if (!parsed) {
        std::cerr << "rivanta-verify: " << error << "\nСправка: rivanta-verify --help\n";
        return veUsage;
    }
    if (options.Help) {
        std::cout << RunnerUsage();
        return veComplete;
    }
    if (options.Version) {
        std::cout << RunnerVersion() << "\n";
        return veComplete;
    }
    return std::nullopt;
}

bool PreparePort(const SRunnerOptions& options, std::unique_ptr<sim::PtyMeterServer>& server, std::string& port)
{
    port = options.Port;
    if (!options.Simulate) return true;
    try {
        auto image = options.MeterFile.empty() ? sim::DefaultMeter() : sim::LoadMeter(sim::FindMeterFile(options.MeterFile));
        server = std::make_unique<sim::PtyMeterServer>(std::make_unique<sim::SimMeter>(image));
    } catch (const std::exception& e) {
        std::cerr << "rivanta-verify: имитатор прибора не запущен: " << e.what() << "\n";
        return false;
    }
    port = server->SlavePath();
    return true;
}

TraceHook TraceToStandardError()
{
    return [](const TraceRecord& r) { std::cerr << FormatTraceRecord(r) << '\n' << std::flush; };
}

int RunJob(THeadlessRun& run, const std::function<void()>& start)
{
    run.OnFinished = [](int code) { QCoreApplication::exit(code); };
    QTimer::singleShot(0, QCoreApplication::instance(), start);
    return QCoreApplication::exec();
}

}  // namespace rv
