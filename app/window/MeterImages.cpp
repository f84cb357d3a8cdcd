// Decoding the configuration and sensor records, the checks of what a record holds, and the choices of the sensor
// dialogs.
#include "app/window/MeterImages.h"

#include "app/window/ProtocolFormat.h"
#include "controls/NumberText.h"
#include "core/Cp1251.h"
#include "core/Locale.h"

#include <cfloat>
#include <cmath>
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

// One unit of the last digit a number text shows: 0.0001 for "1,0012", 1 for "12", 0.0001 for "1.5e-3".
long double LastDigitUnit(const std::string& text)
{
    const size_t e = text.find_first_of("eE");
    const std::string mantissa = text.substr(0, e);
    const size_t sep = mantissa.find_first_of(std::string(".,") + DecimalSeparator());
    int decimals = 0;
    if (sep != std::string::npos)
        for (size_t i = sep + 1; i < mantissa.size(); ++i)
            if (mantissa[i] >= '0' && mantissa[i] <= '9') ++decimals;
    int64_t exponent = 0;
    if (e != std::string::npos && !ParseInt64(text.substr(e + 1), exponent)) exponent = 0;
    return std::pow(10.0L, static_cast<long double>(exponent) - decimals);
}

std::string Where(int position)
{
    return "датчика в позиции " + std::to_string(position) + " (запись прибора)";
}

}  // namespace

std::string SensorRecordFault(const SSensorRecord& sensor, int position)
{
    // The diameter decides the three-path KFS lines and the flow correction; the KFS divides every reading.
    const double d = sensor.Diameter;
    if (!(d > 0.0) || !(d <= kMaxDiameter))
        return "Диаметр трубы " + Where(position) + " недопустим: " + ValueText(d) +
               ". Допустимо больше 0 и не более " + FormatFixed(kMaxDiameter, 0) + " м.";
    return KfsValueFault(sensor, position);
}

std::string KfsValueFault(const SSensorRecord& sensor, int position)
{
    const double kfs = sensor.KfsValue;
    if (!(kfs > 0.0) || !std::isfinite(kfs))
        return "Коэффициент КFS " + Where(position) + " недопустим: " + ValueText(kfs) +
               ". Нужно конечное число больше 0.";
    return {};
}

std::string CorrectionFault(const SSensorRecord& sensor, int position)
{
    const auto fault = [&](const std::string& field, double value) {
        return field + " " + Where(position) + " недопустим: " + ValueText(value) + ".";
    };
    if (!std::isfinite(sensor.Diameter2)) return fault("Второй диаметр", sensor.Diameter2);
    for (int k = 0; k < SSensorRecord::kSegments; ++k)
        for (int j = 0; j < 3; ++j)
            if (!std::isfinite(sensor.Correction[k][j]))
                return fault(std::string("Коэффициент коррекции ") + "abc"[j] + " сегмента " + std::to_string(k),
                             sensor.Correction[k][j]);
    for (int j = 0; j < SSensorRecord::kThresholds; ++j)
        if (std::isnan(sensor.Thresholds[j]))
            return fault("Порог коррекции " + std::to_string(j + 1), sensor.Thresholds[j]);
    return {};
}

std::string KfsTextMismatch(const SSensorRecord& sensor, int position)
{
    const long double value = sensor.KfsValue;
    const std::string head = "Текст КFS " + Where(position) + " \"" + sensor.KfsText + "\" ";
    long double text = 0.0L;
    if (!ParseExtended(sensor.KfsText, DecimalSeparator(), text))
        return head + "не является числом; число КFS " + ValueText(sensor.KfsValue) + ".";
    const long double allowed = LastDigitUnit(sensor.KfsText) + std::fabs(value) * FLT_EPSILON;
    if (std::isfinite(value) && std::fabs(text - value) <= allowed) return {};
    return head + "не совпадает с числом КFS " + ValueText(sensor.KfsValue) + ".";
}

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
    // A diameter that is no number is offered all the same (choosing it is refused), in words.
    const double d = sensor.Diameter;
    return "Модуль №" + std::to_string(sensor.Module) + " " + SensorTypeName(sensor.Type) + " Диаметр " +
           (std::isfinite(d) ? FormatFixed(d, 3) : ValueText(d));
}

std::string SensorSize(const SSensorRecord& sensor, int pathsPerSensor)
{
    return "FS-" + FixedText(static_cast<double>(sensor.Diameter) * 1000.0, 0) + (pathsPerSensor == 3 ? "T" : "S");
}

std::string SensorDesignation(const SSensorRecord& sensor, int pathsPerSensor)
{
    const std::string type = SensorTypeName(sensor.Type);
    return (type.empty() ? "" : "FS/" + type.substr(2) + " ") + SensorSize(sensor, pathsPerSensor);
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
