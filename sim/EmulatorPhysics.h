// The simulated meter's emulator: what its channels read when a flow calculation is started, driven by
// the emulator block that the PC writes, and the measured flows the PC writes back.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/MeterBehaviour.h"
#include "sim/SensorFlowModel.h"

namespace rv::sim {

class SimMeter;
struct MeterImage;

// Last-measurement block (RAM pointer word 6, 38 floats), the values the emulator fills for flow channel
// c = 0..5:
//   8 + c    flow reading, m3/h: raw / KFS
//   14 + c   raw reading: the flow (m3/h) the emulated delay stands for
// Emulator block (RAM pointer word 8, 8 bytes): group 0 (bytes 0..3) for channels 0..2, group 1
// (bytes 4..7) for channels 3..5:
//   0   delay code: 4 × the delay in ticks (the meter's delay has quarter-tick steps)
//   1   emulation is on while both bits 0x20 and 0x40 are set
// With emulation on, channel c reads the flow its sensor's model (SensorFlowModel) gives at the delay,
// times (1 + deviation / 100) of the sensor's deviation curve at that flow, with the relative flow noise.
// With emulation off it reads the zero flow with its noise, and raw = flow × KFS. The model reads the
// sensor record of position c (nominal maximum at 170, KFS at 178) from flash at every sample, so a KFS
// written by the PC takes effect at once. A KFS that is not a positive number reads 0 on both values.
namespace emulator {
inline constexpr int kChannels = 6;
inline constexpr int kFlowValue = 8;
inline constexpr int kRawValue = 14;
inline constexpr int kGroupChannels = 3;
inline constexpr size_t kGroupSize = 4;
inline constexpr uint8_t kEmulationBits = 0x60;
inline constexpr double kDelayCodePerTick = 4;
}  // namespace emulator

// Installs the emulator around the handlers already in place: a flow calculation (0x84) with its
// channel mask samples those channels; a RAM read (0x10) that touches the last-measurement block
// samples the channels of the last calculation again when the meter's options say so; a RAM write
// (0x20) over pointer 13 is kept in the image's emulator state.
void InstallEmulatorPhysics(SimMeter& meter);

// One sample of the channels in mask (bit c = channel c), as the meter measures them now. A block that
// the pointer table places outside RAM is not written.
void MeasureFlows(MeterImage& img, uint8_t mask);

// The model of the sensor at position 0..5 as the flash and the physics of the image describe it now.
SensorFlowModel SensorModelOf(const MeterImage& img, int position);

// The delay in ticks that channel 0..5 emulates now, or nothing while its group's emulation is off.
std::optional<double> EmulatedDelay(const MeterImage& img, int channel);

// The reading of a sensor at a delay without noise: its model's flow shaped by its deviation curve.
double EmulatedFlow(const MeterImage& img, int position, double delay);

// The deviation curve's percent at a flow: linear between points, flat beyond the ends, 0 when empty.
double DeviationPercent(const std::vector<DeviationPoint>& curve, double flow);

}  // namespace rv::sim
