// The KFS write of the headless runner: options, the simulated meter when asked for, the two windows' links and
// controllers, and the run on the Qt event loop.
#include "app/runner/KfsWriteProgram.h"

#include "app/runner/RunnerProgram.h"
#include "app/verify/TFMainController.h"
#include "app/kfs/TForm1Controller.h"
#include "app/kfs/TKfsPageController.h"
#include "app/runner/TKfsWriteRun.h"
#include "core/qt/QtLoop.h"
#include "serial/TNewDevCom.h"
#include "sim/PtyMeterServer.h"

#include <iostream>
#include <memory>

namespace rv {

int RunKfsWriteProgram(const std::vector<std::string>& args)
{
    SKfsWriteOptions options;
    std::string error;
    const bool parsed = ParseKfsWriteOptions(args, options, error);
    if (const std::optional<int> exit = ArgumentsExit(parsed, error, options.Common)) return *exit;

    QtLoop loop;
    std::unique_ptr<sim::PtyMeterServer> server;
    std::string port;
    if (!PreparePort(options.Common, server, port)) return veUsage;

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
    if (options.Common.Trace) form1.SetTraceHook(TraceToStandardError());
    return RunJob(run, [&] { run.Start(main, page, loop, port); });
}

}  // namespace rv
