// The KFS write of the headless runner: the page and its window on the Qt event loop, over a serial port or
// the built-in simulated meter on a pseudo-terminal.
#pragma once

#include <string>
#include <vector>

namespace rv {

// Runs the write the arguments ask for (see KfsWriteUsage) on the running QCoreApplication and returns the
// exit status of the runner.
int RunKfsWriteProgram(const std::vector<std::string>& args);

}  // namespace rv
