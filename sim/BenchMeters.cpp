// The simulated meters of a bench.
#include "sim/BenchMeters.h"

#include <map>

#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"

namespace rv::sim {

std::vector<BenchMeter> BenchMeters(int count, const std::string& meterFile, const SMeterPlaces& places)
{
    struct Place {
        const char* kind;
        int sensor;
    };
    // Every kind early on, so that a few meters already differ in kind and sensor.
    static const Place kPlaces[] = {{"default", 0},    {"three-path", 0}, {"deviation", 0}, {"default", 1},
                                    {"three-path", 3}, {"default", 2},    {"default", 3}};
    constexpr int kKinds = static_cast<int>(sizeof kPlaces / sizeof kPlaces[0]);
    std::vector<BenchMeter> meters;
    if (!meterFile.empty()) {
        const std::string path = FindMeterFile(meterFile, places);
        for (int i = 0; i < count; ++i) {
            BenchMeter m;
            m.kind = meterFile;
            m.image = LoadMeter(path);
            m.image->SetSerialNumber(m.image->SerialNumber() + static_cast<uint32_t>(i));
            meters.push_back(std::move(m));
        }
        return meters;
    }
    std::map<std::string, uint32_t> made;  // meters of each kind so far: the next one's serial number is one up
    for (int i = 0; i < count; ++i) {
        const Place& p = kPlaces[i % kKinds];
        BenchMeter m;
        m.kind = p.kind;
        m.sensor = p.sensor;
        m.image = m.kind == "default" ? DefaultMeter() : LoadMeter(FindMeterFile(m.kind, places));
        m.image->SetSerialNumber(m.image->SerialNumber() + made[m.kind]++);
        meters.push_back(std::move(m));
    }
    return meters;
}

}  // namespace rv::sim
