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
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

namespace {

// SIGINT and SIGTERM reach the loop through a pipe: the first stops the job as the technician would, a second ends
// the program at once.
int signalPipe[2] = {-1, -1};
std::atomic<int> signalsSeen{0};

extern "C" void OnStopSignal(int)
{
    if (signalsSeen.fetch_add(1) > 0) _exit(veStopped);
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(signalPipe[1], &byte, 1);
    errno = saved;
}

// Returns the notifier that stops run, or null when the signals cannot be caught (the run then goes on without).
std::unique_ptr<QSocketNotifier> CatchStopSignals(THeadlessRun& run)
{
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&run] {
        char bytes[16];
        while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        run.Stop("получен сигнал завершения");
    });
    return notifier;
}

}  // namespace

int RunJob(THeadlessRun& run, const std::function<void()>& start)
{
    run.OnFinished = [](int code) { QCoreApplication::exit(code); };
    run.SetProgressLine(isatty(STDERR_FILENO) == 1);
    const std::unique_ptr<QSocketNotifier> stopSignals = CatchStopSignals(run);
    QTimer::singleShot(0, QCoreApplication::instance(), start);
    return QCoreApplication::exec();
}

}  // namespace rv
