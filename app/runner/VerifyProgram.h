// The verification of the headless runner: options, the simulated meter when asked for, the window's link and
// controller, the journal record of the run and its printable protocol, and the run on the Qt event loop.
#pragma once

#include <string>
#include <vector>

namespace rv {

// Runs the verification the arguments ask for on the running QCoreApplication (a QGuiApplication when they ask
// for --pdf) and returns the exit status of the runner.
int RunVerifyProgram(const std::vector<std::string>& args);

}  // namespace rv
