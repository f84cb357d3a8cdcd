// rivanta-verify: the verification without windows. It runs the main window's controller on the Qt event
// loop over a serial port, or over the built-in simulated meter on a pseudo-terminal, prints the protocol
// lines on standard output and the course of the run on standard error, and ends with a status that says
// whether the protocol is complete.
// With --kfs-write it writes the KFS coefficients of a sensor instead (KfsWriteProgram.h).
#include "app/runner/KfsWriteProgram.h"
#include "app/runner/RunnerProgram.h"
#include "app/verify/TFMainController.h"
#include "app/runner/TKfsWriteRun.h"
#include "app/runner/TVerifyRun.h"
#include "core/qt/QtLoop.h"
#include "core/qt/QtTranslation.h"
#include "serial/TNewDevCom.h"
#include "sim/PtyMeterServer.h"

#include <QCoreApplication>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    rv::LoadRussianTranslation(app);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (rv::WantsKfsWrite(args)) return rv::RunKfsWriteProgram(args);
    rv::SVerifyOptions options;
    std::string error;
    const bool parsed = rv::ParseVerifyOptions(args, options, error);
    if (const std::optional<int> exit = rv::ArgumentsExit(parsed, error, options)) return *exit;

    rv::QtLoop loop;
    std::unique_ptr<rv::sim::PtyMeterServer> server;
    std::string port;
    if (!rv::PreparePort(options, server, port)) return rv::veUsage;

    rv::TNewDevCom link(nullptr, &loop);
    rv::TVerifyRun run(options, std::cout, std::cerr);
    rv::TFMainController controller(link, run, &loop);
    if (options.Trace) controller.SetTraceHook(rv::TraceToStandardError());
    return rv::RunJob(run, [&] { run.Start(controller, loop, port); });
}
