// Meter descriptions in JSON.
#include "sim/MeterDescription.h"

namespace rv::sim {

MeterDescription ParseMeterDescription(std::string_view, const std::string& source)
{
    throw MeterFileError(source + ": not yet readable");
}

std::shared_ptr<MeterImage> ParseMeter(std::string_view json, const std::string& source)
{
    return BuildMeter(ParseMeterDescription(json, source));
}

std::shared_ptr<MeterImage> LoadMeter(const std::string& path) { return ParseMeter("", path); }

}  // namespace rv::sim
