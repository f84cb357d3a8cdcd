// The emulator's samples: each channel's reading from its sensor's model at the emulated delay, or the
// zero-flow reading, with seeded noise; and the handlers that take samples and keep the measured flows.
#include "sim/EmulatorPhysics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "protocol/Frame.h"
#include "sim/MeterCommands.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace rv::sim {

namespace {

using namespace layout;

uint64_t SplitMix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// In (0, 1): never 0, so its logarithm is finite.
double Unit(uint64_t bits) { return (static_cast<double>(bits >> 11) + 0.5) * 0x1p-53; }

// A standard normal draw for one channel of one sample, by the Box-Muller transform of two uniform
// draws that depend only on the seed, the sample number and the channel.
double Gaussian(uint32_t seed, uint64_t sample, int channel)
{
    const uint64_t key = SplitMix(SplitMix(seed) + sample * emulator::kChannels + static_cast<uint64_t>(channel));
    const double u1 = Unit(SplitMix(key));
    const double u2 = Unit(SplitMix(key ^ 0x5555555555555555ull));
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2);
}

// What a 32-bit reading can hold: a value beyond the float range reads as the largest float.
float ToFloat(double v)
{
    if (!std::isfinite(v)) return 0.0f;
    constexpr double top = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(v, -top, top));
}

double Shaped(const SensorFlowModel& model, const SensorPhysics& physics, double delay)
{
    const double flow = model.FlowAt(delay);
    return flow * (1 + DeviationPercent(physics.deviation, flow) / 100);
}

bool IsAck(const Answer& a, uint8_t value)
{
    return a.kind == Answer::Kind::Acknowledge && a.bytes.size() == 1 && a.bytes[0] == value;
}

}  // namespace

double DeviationPercent(const std::vector<DeviationPoint>& curve, double flow)
{
    if (curve.empty()) return 0;
    if (flow <= curve.front().flow) return curve.front().percent;
    for (size_t i = 1; i < curve.size(); ++i) {
        const DeviationPoint& a = curve[i - 1];
        const DeviationPoint& b = curve[i];
        if (flow > b.flow) continue;
        if (!(b.flow > a.flow)) return b.percent;
        return a.percent + (b.percent - a.percent) * (flow - a.flow) / (b.flow - a.flow);
    }
    return curve.back().percent;
}

SensorFlowModel SensorModelOf(const MeterImage& img, int position)
{
    const uint32_t base = SensorAddress(position);
    const SensorPhysics& physics = img.sensorPhysics.at(static_cast<size_t>(position));
    double transit = physics.transitTime;
    if (!(transit > 0) && physics.pathLength > 0) transit = physics.pathLength / SensorFlowModel::kSoundSpeed;
    return SensorFlowModel(img.flash.F32(base + sensor::kNominalMax), img.flash.F32(base + sensor::kKfs), transit);
}

std::optional<double> EmulatedDelay(const MeterImage& img, int channel)
{
    const uint16_t at = img.RamPointer(ram::kEmulatorWord);
    if (channel < 0 || channel >= emulator::kChannels || !img.ram.Contains(at, ram::kEmulatorSize)) return {};
    const uint32_t group = at + emulator::kGroupSize * static_cast<uint32_t>(channel / emulator::kGroupChannels);
    if ((img.ram.U8(group + 1) & emulator::kEmulationBits) != emulator::kEmulationBits) return {};
    return img.ram.U8(group) / emulator::kDelayCodePerTick;
}

double EmulatedFlow(const MeterImage& img, int position, double delay)
{
    return Shaped(SensorModelOf(img, position), img.sensorPhysics.at(static_cast<size_t>(position)), delay);
}

void MeasureFlows(MeterImage& img, uint8_t mask)
{
    const uint64_t sample = img.emulatorState.samples++;
    const uint16_t at = img.RamPointer(ram::kLastMeasureWord);
    if (!img.ram.Contains(at, ram::kLastMeasureSize)) return;
    const EmulatorOptions& o = img.emulator;
    for (int c = 0; c < emulator::kChannels; ++c) {
        if (!(mask & (1u << c))) continue;
        const SensorFlowModel model = SensorModelOf(img, c);
        double flow = 0, raw = 0;
        if (model.Valid()) {
            const double noise = Gaussian(o.seed, sample, c);
            if (const auto delay = EmulatedDelay(img, c)) {
                raw = Shaped(model, img.sensorPhysics[static_cast<size_t>(c)], *delay) * (1 + o.flowNoise * noise);
                flow = raw / model.Kfs();
            } else {
                flow = o.zeroFlow + o.zeroNoise * noise;
                raw = flow * model.Kfs();
            }
        }
        img.ram.PutF32(at + 4u * static_cast<uint32_t>(emulator::kFlowValue + c), ToFloat(flow));
        img.ram.PutF32(at + 4u * static_cast<uint32_t>(emulator::kRawValue + c), ToFloat(raw));
    }
}

void InstallEmulatorPhysics(SimMeter& meter)
{
    const SimMeter::CommandHandler start = meter.CommandHandlerFor(cmd::kStartFlowCalculation);
    meter.SetCommandHandler(cmd::kStartFlowCalculation, [start](SimMeter& m, const Request& r) {
        const Answer a = start ? start(m, r) : Answer::Silent();
        if (r.paramCount == 1 && IsAck(a, kAckOk)) MeasureFlows(m.Image(), r.params[0]);
        return a;
    });

    const SimMeter::CommandHandler read = meter.CommandHandlerFor(cmd::kReadRam);
    meter.SetCommandHandler(cmd::kReadRam, [read](SimMeter& m, const Request& r) {
        MeterImage& img = m.Image();
        if (r.paramCount == 3 && img.emulator.resampleOnRead && img.meterCommands.flowCalculations > 0) {
            const uint32_t addr = GetU16(r.params);
            const uint32_t n = r.params[2];
            const uint32_t at = img.RamPointer(ram::kLastMeasureWord);
            if (n > 0 && addr < at + ram::kLastMeasureSize && at < addr + n)
                MeasureFlows(img, img.meterCommands.flowChannelMask);
        }
        return read ? read(m, r) : Answer::Silent();
    });

    const SimMeter::CommandHandler write = meter.CommandHandlerFor(cmd::kWriteRam);
    meter.SetCommandHandler(cmd::kWriteRam, [write](SimMeter& m, const Request& r) {
        const Answer a = write ? write(m, r) : Answer::Silent();
        MeterImage& img = m.Image();
        if (r.paramCount >= 3 && IsAck(a, kAckOk)) {
            const uint32_t addr = GetU16(r.params);
            const uint32_t n = r.params[2];
            const uint32_t at = img.RamPointer(ram::kWord13);
            if (addr <= at && at + 4 <= addr + n && img.ram.Contains(at, 4))
                img.emulatorState.measuredFlows.push_back(img.ram.F32(at));
        }
        return a;
    });
}

}  // namespace rv::sim
