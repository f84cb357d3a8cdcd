// The simulated meters of a bench: meters of the shipped kinds taken in turn (the built-in one-path meter's four
// sensors, the three-path meter's two, the deviation meter's one), each with a serial number of its own and the
// sensor it is to verify, so that a bench of simulators shows meters and sensors that differ.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/MeterFiles.h"

namespace rv::sim {

struct MeterImage;

struct BenchMeter {
    std::shared_ptr<MeterImage> image;
    std::string kind;  // "default", "three-path", "deviation"
    int sensor = 0;    // the position to verify
};

// The meters of the first count places of a bench. The built-in meter needs no file; the others are the shipped
// description files, found by name (FindMeterFile), which throws MeterFileError when one is missing.
std::vector<BenchMeter> BenchMeters(int count, const SMeterPlaces& places = SMeterPlaces::Current());

}  // namespace rv::sim
