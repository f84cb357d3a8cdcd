// rivanta-verify: the verification without windows. It runs the main window's controller on the Qt event
// loop over a serial port, or over the built-in simulated meter on a pseudo-terminal, prints the protocol
// lines on standard output and the course of the run on standard error, and ends with a status that says
// whether the protocol is complete.
// With --kfs-write it writes the KFS coefficients of a sensor instead (KfsWriteProgram.h).
#include "app/runner/KfsWriteProgram.h"
#include "app/runner/RunnerOptions.h"
#include "app/runner/VerifyProgram.h"
#include "core/qt/QtTranslation.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The printable protocol is painted: that needs a graphical application, which needs no display offscreen.
    std::unique_ptr<QCoreApplication> app;
    if (rv::WantsPdf(args)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    rv::LoadRussianTranslation(*app);
    if (rv::WantsKfsWrite(args)) return rv::RunKfsWriteProgram(args);
    return rv::RunVerifyProgram(args);
}
