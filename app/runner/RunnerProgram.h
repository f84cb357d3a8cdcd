// What the runner program's two jobs share on the Qt event loop: the answer to bad arguments and --help, the
// port (the one named, or the built-in simulated meter on a pseudo-terminal), the line trace on standard error,
// and running the job until it has finished.
#pragma once

#include "core/Trace.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace rv {

class THeadlessRun;
struct SRunnerOptions;
namespace sim {
class PtyMeterServer;
}

// Where the program ends before a job: arguments that did not parse (the error on standard error,
// veUsage), --help or --version (on standard output, veComplete). Nothing when the job is to run.
std::optional<int> ArgumentsExit(bool parsed, const std::string& error, const SRunnerOptions& options);
// The port the options name or, with --simulate, the simulated meter started into server and its pseudo-terminal.
// False, with the reason on standard error, when the simulator cannot start.
bool PreparePort(const SRunnerOptions& options, std::unique_ptr<sim::PtyMeterServer>& server, std::string& port);
// Writes each record of the line trace to standard error.
TraceHook TraceToStandardError();
// Starts the job from the running QCoreApplication's loop and runs it until the job has finished; returns the
// job's exit status.
int RunJob(THeadlessRun& run, const std::function<void()>& start);

}  // namespace rv
