// Fault injection for the simulated meter, deterministic under a seed.
#pragma once

#include <cstdint>
#include <vector>

namespace rv::sim {

// A read whose framed answer comes back another length than it asked for, its checksum right for what is sent:
// the answers to requests of `command` whose address is `address` (the 2-byte address of a RAM or flash read, the
// 4-byte one of a large flash read) lose bytes from their end (delta < 0) or gain filler bytes 0xEE (delta > 0),
// never below 0 or above 250 bytes in all; the first `times` of them, or every one when times is 0.
struct ResizedAnswer {
    uint8_t command = 0x31;
    uint32_t address = 0;
    int delta = 0;
    uint32_t times = 1;
    uint32_t done = 0;  // answers changed so far
};

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
    // Not drawn: every matching answer is changed, in this order of entries (the first that matches).
    std::vector<ResizedAnswer> resized;
};

// What was done to one answer, for the log and for the line's timing.
struct FaultApplied {
    bool dropped = false;
    bool badChecksum = false;
    int garbageBytes = 0;
    uint32_t delayMs = 0;
    int resizedBy = 0;  // bytes taken from (negative) or added to the answer's payload
};

}  // namespace rv::sim
