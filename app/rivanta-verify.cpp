// rivanta-verify: the verification without windows. It runs the main window's controller on the Qt event
// loop over a serial port, or over the built-in simulated meter on a pseudo-terminal, prints the protocol
// lines on standard output and the course of the run on standard error, and ends with a status that says
// whether the protocol is complete.
// With --kfs-write it writes the KFS coefficients of a sensor instead (KfsWriteProgram.h).
#include "app/KfsWriteProgram.h"
#include "app/TFMainController.h"
#include "app/TKfsWriteRun.h"
#include "app/TVerifyRun.h"
#include "core/qt/QtLoop.h"
#include "protocol/TraceFormat.h"
#include "serial/TNewDevCom.h"
#include "sim/MeterDescription.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"

#include <QCoreApplication>
#include <QTimer>

#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (rv::WantsKfsWrite(args)) return rv::RunKfsWriteProgram(args);
    rv::SVerifyOptions options;
    std::string error;
    if (!rv::ParseVerifyOptions(args, options, error)) {
        std::cerr << "rivanta-verify: " << error << "\n" << rv::VerifyUsage();
        return rv::veUsage;
    }
    if (options.Help) {
        std::cerr << rv::VerifyUsage();
        return rv::veComplete;
    }

    rv::QtLoop loop;
    std::unique_ptr<rv::sim::PtyMeterServer> server;
    std::string port = options.Port;
    if (options.Simulate) {
        try {
            auto image = options.MeterFile.empty() ? rv::sim::DefaultMeter() : rv::sim::LoadMeter(options.MeterFile);
            server = std::make_unique<rv::sim::PtyMeterServer>(std::make_unique<rv::sim::SimMeter>(image));
        } catch (const std::exception& e) {
            std::cerr << "rivanta-verify: имитатор прибора не запущен: " << e.what() << "\n";
            return rv::veUsage;
        }
        port = server->SlavePath();
    }

    rv::TNewDevCom link(nullptr, &loop);
    rv::TVerifyRun run(options, std::cout, std::cerr);
    rv::TFMainController controller(link, run, &loop);
    if (options.Trace)
        controller.SetTraceHook([](const rv::TraceRecord& r) {
            std::cerr << rv::FormatTraceRecord(r) << '\n' << std::flush;
        });
    run.OnFinished = [](int code) { QCoreApplication::exit(code); };
    QTimer::singleShot(0, &app, [&] { run.Start(controller, loop, port); });
    return app.exec();
}
