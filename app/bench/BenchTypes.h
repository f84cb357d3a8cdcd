// What a bench and its meters share: the options of one meter, how its work ended, and the lines of its course.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace rv {

// What one meter of a bench is verified with.
struct SBenchMeterOptions {
    std::string Port;
    std::optional<int> Sensor;  // position 0..5; the first offered when unset
    bool Reverse = false;
    bool ExtraInfo = false;
    bool AnswerYes = false;  // the answer to every Yes/No question of this meter
};

// How a meter's work ended. The values are the runner's exit statuses.
enum TBenchOutcome {
    boComplete = 0,    // the protocol is complete (and saved where asked)
    boIncomplete = 1,  // the meter refused or a check failed
    boUsage = 2,       // the meter does not offer the sensor asked for
    boPort = 3,        // the port could not be opened
    boLineLost = 4,    // the line was lost (or the meter fell silent) in the middle
    boStopped = 5,     // stopped by the technician, a signal or the time limit
};
// The more serious of two outcomes: a fault of the set-up (usage, port) before a fault of the line, before a meter
// that failed, before a stop, before a complete protocol.
TBenchOutcome MoreSerious(TBenchOutcome a, TBenchOutcome b);

// One line of a meter's course, with the loop's time it was written at.
struct SBenchLogLine {
    uint64_t Ms = 0;
    std::string Text;
};

}  // namespace rv
