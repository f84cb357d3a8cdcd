// Fault injection for the simulated meter, deterministic under a seed.
#pragma once

#include <cstdint>

namespace rv::sim {

// Probabilities per answer, 0..1 (anything not above 0, NaN included, never happens; 1 or more always
// does). Every request the meter answers takes the same draws from a std::mt19937 seeded with seed,
// mapped to [0, 1) by the meter itself, so the same seed and the same requests give the same faults
// with any standard library. Changing seed on a running meter restarts the sequence of the new seed.
// Only answers that would be sent take faults; an acknowledge has no checksum to spoil.
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
