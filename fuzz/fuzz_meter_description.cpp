// Fuzzes the meter description file: any text either builds a meter or is refused with the file's error, and a
// meter it builds is read by the windows' decoders and record checks without fault, as a meter's flash would be.
#include "app/window/MeterImages.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

using namespace rv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::shared_ptr<sim::MeterImage> image;
    try {
        image = sim::ParseMeter(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
    } catch (const sim::MeterFileError&) {
        return 0;
    }
    TConfigImage config{};
    image->flash.Read(sim::layout::kConfig, config.data(), config.size());
    TSensorImages sensors{};
    for (int i = 0; i < flash::kSensorCount; ++i)
        image->flash.Read(sim::layout::SensorAddress(i), sensors[static_cast<size_t>(i)].data(), kSensorImageSize);
    const int paths = PathsPerSensorOf(config);
    for (int m = 0; m <= kMaxModuleNumber + 1; ++m) {
        (void)ExecutionOf(config, m);
        (void)TableSetOf(config, m);
    }
    for (int i = 0; i < flash::kSensorCount; ++i) {
        const SSensorRecord record = SSensorRecord::Decode(sensors[static_cast<size_t>(i)]);
        // A record the checks let through holds a diameter and a KFS the protocol can print as numbers.
        if (SensorRecordFault(record, i).empty() && (!(record.Diameter > 0.0f && record.Diameter <= kMaxDiameter) ||
                                                     !(record.KfsValue > 0.0f) || record.KfsValue > 3.5e38f))
            __builtin_trap();
        (void)KfsTextMismatch(record, i);
        (void)CorrectionFault(record, i);
    }
    for (const SSensorChoice& c : SensorChoices(sensors, paths))
        if (c.Position < 0 || c.Position >= flash::kSensorCount) __builtin_trap();
    return 0;
}
