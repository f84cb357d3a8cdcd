// How a simulated meter behaves beyond what its memory holds: the physics of its emulator (per sensor
// and for the meter), its answer to flash writes, and what the emulator keeps while it runs.
#pragma once

#include <cstdint>
#include <vector>

namespace rv::sim {

// One point of a deviation curve: at this flow (m3/h) the sensor reads percent more than the model.
struct DeviationPoint {
    double flow = 0;
    double percent = 0;
    bool operator==(const DeviationPoint& other) const = default;
};

// The physics of the sensor at one position. The transit time of sound across the pipe is taken as
// given, else from the path length at the speed of sound in water at 20 °C, else chosen so that the
// sensor's verification sweeps about ten delays. The deviation curve is interpolated linearly between
// its points (in rising flow) and held flat beyond its ends; an empty curve deviates nowhere.
struct SensorPhysics {
    double transitTime = 0;  // s; 0 = not given
    double pathLength = 0;   // m; 0 = not given
    std::vector<DeviationPoint> deviation;
    bool operator==(const SensorPhysics& other) const = default;
};

// The meter-wide physics. Noise is Gaussian with the given standard deviations, drawn from a
// generator keyed by the seed, the sample number and the channel, so the same seed and the same
// requests give the same readings with any standard library.
struct EmulatorOptions {
    double zeroFlow = 0.0005;  // m3/h, what a channel reads with no emulation and no liquid moving
    double zeroNoise = 0;      // m3/h, on that reading
    double flowNoise = 0;      // relative, on the emulated readings (0.001 = 0.1 %)
    uint32_t seed = 1;
    // A meter measures continuously: once a flow calculation has been started, every read of the
    // last-measurement block brings a fresh sample of the channels last asked for. Off: the block
    // changes only when a calculation is started.
    bool resampleOnRead = true;
    bool operator==(const EmulatorOptions& other) const = default;
};

// What the meter answers to a flash write (0x40, 0x41) that fits the image.
enum class FlashWrites {
    Apply,             // write and acknowledge with 0xFF
    Refuse,            // keep the old contents and acknowledge with a refusal
    Ignore,            // keep the old contents but acknowledge with 0xFF, as a failing flash would
    InCorrectionMode,  // Apply while the identity shows the correction mode, else Refuse
};

// Kept by the emulator while it runs, for tests.
struct EmulatorState {
    uint64_t samples = 0;              // samples measured so far; numbers the noise draws
    std::vector<float> measuredFlows;  // every float the PC wrote over RAM pointer 13, in order
    bool operator==(const EmulatorState& other) const = default;
};

}  // namespace rv::sim
