// The simulated meter: a memory image (flash and RAM) and the responder that answers request
// frames found in a byte stream. Knows the frames only through the shared frame helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/FaultPlan.h"

namespace rv::sim {

struct MeterImage;  // flash, RAM and identity; see MeterImage.h

// Answers one request at a time. Bytes are fed as they arrive on the line; when a complete request
// frame addressed to the meter has been found, the answer bytes (possibly none) are handed to emit.
// A lone wake-up byte, garbage and frames for other stations are skipped.
class SimMeter {
public:
    using Emit = std::function<void(const std::vector<uint8_t>& answer, const FaultApplied& fault)>;

    explicit SimMeter(std::shared_ptr<MeterImage> image, FaultPlan faults = {});
    ~SimMeter();

    void Receive(const uint8_t* data, size_t size, const Emit& emit);
    // Forgets a partly received request (the line was idle, or reopened).
    void ResetInput();

    MeterImage& Image();
    const MeterImage& Image() const;
    FaultPlan& Faults();

    // How many requests were answered, per command code, for tests.
    uint64_t RequestCount(uint8_t command) const;
    uint64_t TotalRequests() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace rv::sim
