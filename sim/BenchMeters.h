// The simulated meters of a bench: meters of the shipped kinds taken in turn (the built-in one-path meter's four
// sensors, the three-path meter's two, the deviation meter's one), each with a serial number of its own and the
// sensor it is to verify, so that a bench of simulators shows meters and sensors that differ.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/MeterFiles.h"

namespace rv::sim {

struct MeterImage;

struct BenchMeter {
    std::shared_ptr<MeterImage> image;
    std::string kind;           // "default", "three-path", "deviation"; the file given for copies of one meter
    std::optional<int> sensor;  // the position to verify; unset for copies of one meter
};

// The meters of the first count places of a bench. Without meterFile the shipped kinds in turn: the built-in meter
// needs no file, the others are the shipped description files found by name; with it, count copies of that meter,
// their serial numbers counting up. Throws MeterFileError when a file is missing or wrong.
std::vector<BenchMeter> BenchMeters(int count, const std::string& meterFile = {},
                                    const SMeterPlaces& places = SMeterPlaces::Current());

}  // namespace rv::sim
