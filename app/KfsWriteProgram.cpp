// The KFS write of the headless runner: options, the simulated meter when asked for, the two windows' links and
// controllers, and the run on the Qt event loop.
#include "app/KfsWriteProgram.h"

#include "app/TFMainController.h"
#include "app/TForm1Controller.h"
#include "app/TKfsPageController.h"
#include "app/TKfsWriteRun.h"
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

namespace rv {

int RunKfsWriteProgram(const std::vector<std::string>& args)
{
    SKfsWriteOptions options;
    std::string error;
    if (!ParseKfsWriteOptions(args, options, error)) {
        std::cerr << "rivanta-verify: " << error << "\n" << KfsWriteUsage();
        return veUsage;
    }
    if (options.Common.Help) {
        std::cerr << KfsWriteUsage();
        return veComplete;
    }

    QtLoop loop;
    std::unique_ptr<sim::PtyMeterServer> server;
    std::string port = options.Common.Port;
    if (options.Common.Simulate) {
        try {
            const std::string& file = options.Common.MeterFile;
            auto image = file.empty() ? sim::DefaultMeter() : sim::LoadMeter(file);
            server = std::make_unique<sim::PtyMeterServer>(std::make_unique<sim::SimMeter>(image));
        } catch (const std::exception& e) {
            std::cerr << "rivanta-verify: имитатор прибора не запущен: " << e.what() << "\n";
            return veUsage;
        }
        port = server->SlavePath();
    }

    // The main window is there for the page's switch and its status line; its own link stays closed.
    TNewDevCom mainLink(nullptr, &loop);
    TNewDevCom link(nullptr, &loop);
    link.SetName("NewDevCom1");
    link.SetCommNet("COM2");
    link.SetBaudRate(br9600);
    TKfsWriteRun run(options, std::cout, std::cerr);
    TFMainController main(mainLink, run, &loop);
    TForm1Controller form1(link, run, &loop);
    TKfsPageController page(main, form1, run);
    if (options.Common.Trace)
        form1.SetTraceHook([](const TraceRecord& r) { std::cerr << FormatTraceRecord(r) << '\n' << std::flush; });
    run.OnFinished = [](int code) { QCoreApplication::exit(code); };
    QTimer::singleShot(0, QCoreApplication::instance(), [&] { run.Start(main, page, loop, port); });
    return QCoreApplication::exec();
}

}  // namespace rv
