// A bench of simulated meters on in-memory lines in virtual time: each meter's port name picks its simulated meter,
// whose line can vanish as an unplugged adapter's. What the bench tests are built on.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/bench/TBench.h"
#include "core/VirtualLoop.h"
#include "fakes/MemoryLineSupport.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace rv::test {

struct SimulatedMeter {
    std::shared_ptr<sim::MeterImage> image;
    std::unique_ptr<sim::SimMeter> meter;
    VanishingLine* line = nullptr;  // the line of the meter's last start; owned by the bench's meter
};

// The meter's emulation, as its emulator block holds it: on in either group.
inline bool EmulationOn(const sim::MeterImage& image)
{
    const uint16_t block = image.RamPointer(8);
    return (image.ram.U8(block + 1) & 0x60) != 0 || (image.ram.U8(block + 5) & 0x60) != 0;
}

class BenchRig {
public:
    BenchRig()
        : bench(loop, [this](const SBenchMeterOptions& options) {
              SimulatedMeter& m = meters.at(options.Port);
              auto line = std::make_unique<VanishingLine>(*m.meter, &loop);
              // The port is closed until the meter's window connects, as a serial port is.
              line->SetOpen(false);
              m.line = line.get();
              return line;
          })
    {
    }

    // A meter on the port given, else on "COMn" (n from 1, in the order added); returns its slot.
    size_t Add(const sim::MeterDescription& d, SBenchMeterOptions options = {}, sim::FaultPlan faults = {},
               const std::string& port = {})
    {
        options.Port = port.empty() ? "COM" + std::to_string(bench.Count() + 1) : port;
        SimulatedMeter& m = meters[options.Port];
        m.image = sim::BuildMeter(d);
        m.meter = std::make_unique<sim::SimMeter>(m.image, faults);
        return bench.Add(options);
    }
    SimulatedMeter& Sim(size_t slot) { return meters.at(bench.Options(slot).Port); }
    TBenchMeter& Meter(size_t slot) { return *bench.Meter(slot); }
    std::string Protocol(size_t slot)
    {
        std::string out;
        for (const std::string& l : Meter(slot).Controller().View().Memo1Lines) out += l + "\n";
        return out;
    }
    // Runs until nothing of the bench runs any more.
    bool RunToEnd(uint64_t limitMs = 3'600'000)
    {
        return loop.RunUntil([&] { return !bench.AnyRunning(); }, limitMs);
    }

    VirtualLoop loop;
    std::map<std::string, SimulatedMeter> meters;
    TBench bench;
};

}  // namespace rv::test
