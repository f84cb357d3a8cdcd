// Decoding the configuration and sensor records, and the choices of the sensor dialogs.
#include "app/window/MeterImages.h"

#include "core/Cp1251.h"
#include "core/Locale.h"

#include <cstring>

namespace rv {

namespace {

constexpr size_t kModuleStride = 50;
constexpr size_t kExecution = 2;
constexpr size_t kPathsPerSensor = 32;
constexpr size_t kTableSet = 379;

constexpr size_t kPresent = 120;
constexpr size_t kType = 122;
constexpr size_t kModule = 123;
constexpr size_t kSerial = 130;
constexpr size_t kQVmax = 140;
constexpr size_t kKfsText = SSensorRecord::kKfsTextAt;
constexpr size_t kKfsTextEnd = kKfsText + SSensorRecord::kKfsTextSize;
constexpr size_t kNominalMax = 170;
constexpr size_t kKfs = SSensorRecord::kKfsAt;
constexpr size_t kDiameter = 186;
constexpr size_t kDiameter2 = 194;
constexpr size_t kCorrection = 198;
constexpr size_t kThresholdsAt = 258;

float FloatAt(const TSensorImage& image, size_t offset)
{
    const uint32_t bits = static_cast<uint32_t>(image[offset]) | static_cast<uint32_t>(image[offset + 1]) << 8 |
                          static_cast<uint32_t>(image[offset + 2]) << 16 |
                          static_cast<uint32_t>(image[offset + 3]) << 24;
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// A text field runs to its terminating zero, or to the start of the next field at the latest. Control
// characters become '?': a line break from the meter must not split a protocol line in two.
std::string TextAt(const TSensorImage& image, size_t offset, size_t end)
{
    std::string text = FromCp1251(image.data() + offset, end - offset);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

}  // namespace

uint8_t PathsPerSensorOf(const TConfigImage& config)
{
    return config[kPathsPerSensor];
}

std::optional<uint16_t> ExecutionOf(const TConfigImage& config, int module)
{
    if (module < 0) return std::nullopt;
    const size_t at = kExecution + kModuleStride * static_cast<size_t>(module);
    if (at + 2 > config.size()) return std::nullopt;
    return static_cast<uint16_t>(config[at] | config[at + 1] << 8);
}

std::optional<uint8_t> TableSetOf(const TConfigImage& config, int module)
{
    if (module < 0) return std::nullopt;
    const size_t at = kTableSet + static_cast<size_t>(module);
    if (at >= config.size()) return std::nullopt;
    return config[at];
}

SSensorRecord SSensorRecord::Decode(const TSensorImage& image)
{
    SSensorRecord r;
    r.Present = image[kPresent] != 0;
    r.Type = image[kType];
    r.Module = image[kModule];
    r.Serial = TextAt(image, kSerial, kQVmax);
    r.QVmax = TextAt(image, kQVmax, kKfsText);
    r.KfsText = TextAt(image, kKfsText, kKfsTextEnd);
    r.NominalMax = FloatAt(image, kNominalMax);
    r.KfsValue = FloatAt(image, kKfs);
    r.Diameter = FloatAt(image, kDiameter);
    r.Diameter2 = FloatAt(image, kDiameter2);
    for (int k = 0; k < kSegments; ++k)
        for (int j = 0; j < 3; ++j)
            r.Correction[k][j] = FloatAt(image, kCorrection + 12 * static_cast<size_t>(k) + 4 * static_cast<size_t>(j));
    for (int j = 0; j < kThresholds; ++j) r.Thresholds[j] = FloatAt(image, kThresholdsAt + 4 * static_cast<size_t>(j));
    return r;
}

std::string SensorTypeName(uint8_t type)
{
    switch (type) {
        case 1:
            return "FSA";
        case 2:
            return "FSB";
        case 3:
            return "FSC";
        default:
            return {};
    }
}

std::string SensorChoiceCaption(const SSensorRecord& sensor)
{
    return "Модуль №" + std::to_string(sensor.Module) + " " + SensorTypeName(sensor.Type) + " Диаметр " +
           FormatFixed(sensor.Diameter, 3);
}

std::vector<SSensorChoice> SensorChoices(const TSensorImages& sensors, int pathsPerSensor)
{
    std::vector<SSensorChoice> choices;
    if (pathsPerSensor != 1 && pathsPerSensor != 3) return choices;
    for (int i = 0; i < flash::kSensorCount; i += pathsPerSensor) {
        const SSensorRecord sensor = SSensorRecord::Decode(sensors[static_cast<size_t>(i)]);
        if (sensor.Present) choices.push_back({i, SensorChoiceCaption(sensor)});
    }
    return choices;
}

}  // namespace rv
