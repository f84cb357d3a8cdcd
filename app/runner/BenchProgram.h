// The bench of the headless runner on the Qt event loop: the meters' serial ports (or simulated meters on
// pseudo-terminals) verified at once, each run recorded in the journal.
#pragma once

#include "app/record/TRunRecorder.h"

namespace rv {

struct SVerifyOptions;

// Runs the bench the options ask for (IsBench) on the running QCoreApplication and returns the exit status of the
// runner; journal is null with --no-journal.
int RunBenchProgram(const SVerifyOptions& options, journal::TJournal* journal, const SRunRecordContext& context);

}  // namespace rv
