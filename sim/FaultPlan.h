// Fault injection for the simulated meter, deterministic under a seed.
#pragma once

#include <cstdint>

namespace rv::sim {

struct FaultPlan {
    uint32_t seed = 1;
    double dropAnswer = 0;      // probability that an answer is not sent at all
    double badChecksum = 0;     // probability that a framed or identity answer gets a wrong checksum
    double garbage = 0;         // probability that 1..8 random bytes precede the answer
    double late = 0;            // probability that the answer is delayed by lateMs
    uint32_t lateMs = 2000;
};

// What was done to one answer, for the log and for the line's timing.
struct FaultApplied {
    bool dropped = false;
    bool badChecksum = false;
    int garbageBytes = 0;
    uint32_t delayMs = 0;
};

}  // namespace rv::sim
