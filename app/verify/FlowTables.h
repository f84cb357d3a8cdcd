// The sensor size tables, the required-flow tables, the allowed error of the five accuracy classes and the
// viscosity of water: the fixed data and plain functions behind the flow model and the verification run.
#pragma once

#include <array>
#include <functional>
#include <string>

namespace rv {

inline constexpr int kSizeCount = 10;
using TSizeTable = std::array<float, kSizeCount>;

// Indexed by the size index 0..9. The values are the metrology tables as issued; keep them exact.
namespace tables {

// The nominal maxima a sensor record may carry; sizes 8 and 9 have none and are never chosen.
inline constexpr std::array<float, 8> NominalMax = {7.0f, 12.0f, 20.0f, 30.0f, 50.0f, 80.0f, 120.0f, 200.0f};
// Pipe diameter, metres.
inline constexpr TSizeTable Diameter = {0.02f, 0.025f, 0.032f, 0.04f, 0.05f, 0.065f, 0.08f, 0.1f, 0.125f, 0.15f};
// Base c of the geometry coefficient Kv = (c / 2D)^2.
inline constexpr TSizeTable KvBase = {1.0f, 1.0f, 0.0382f, 0.0474f, 0.0598f, 1.0f, 0.1012f, 1.0f, 1.0f, 1.0f};

// Flows, m3/h. A zero marks a size that has no such point.
inline constexpr TSizeTable A1 = {0.07f, 0.12f, 0.2f, 0.3f, 0.5f, 0.8f, 1.2f, 2.0f, 3.0f, 5.0f};
inline constexpr TSizeTable A2 = {0.14f, 0.24f, 0.4f, 0.6f, 1.0f, 1.6f, 2.4f, 4.0f, 6.0f, 10.0f};
inline constexpr TSizeTable A3 = {0.7f, 1.2f, 2.0f, 3.0f, 5.0f, 8.0f, 12.0f, 20.0f, 30.0f, 50.0f};
inline constexpr TSizeTable A4 = {7.0f, 12.0f, 20.0f, 30.0f, 50.0f, 80.0f, 120.0f, 200.0f, 300.0f, 500.0f};
inline constexpr TSizeTable B1 = {0.0f, 0.0f, 0.12f, 0.2f, 0.3f, 0.5f, 0.8f, 1.2f, 2.0f, 3.0f};
inline constexpr TSizeTable B4 = {0.0f, 0.0f, 20.0f, 30.0f, 50.0f, 80.0f, 120.0f, 200.0f, 300.0f, 500.0f};
inline constexpr TSizeTable C1 = {0.0f, 0.0f, 0.08f, 0.12f, 0.2f, 0.3f, 0.48f, 0.8f, 1.2f, 2.0f};
inline constexpr TSizeTable C2 = {0.0f, 0.0f, 0.2f, 0.3f, 0.5f, 0.8f, 1.2f, 2.0f, 3.0f, 5.0f};
inline constexpr TSizeTable C3 = {0.0f, 0.0f, 1.0f, 1.5f, 2.5f, 4.0f, 6.0f, 10.0f, 15.0f, 25.0f};
inline constexpr TSizeTable C4 = {0.0f, 0.0f, 20.0f, 30.0f, 50.0f, 80.0f, 120.0f, 200.0f, 300.0f, 500.0f};
inline constexpr TSizeTable D1 = {0.07f, 0.12f, 0.08f, 0.12f, 0.2f, 0.3f, 0.48f, 0.8f, 1.2f, 2.0f};
inline constexpr TSizeTable D2 = {0.35f, 0.6f, 0.8f, 1.5f, 2.5f, 4.0f, 6.0f, 10.0f, 15.0f, 25.0f};
inline constexpr TSizeTable D3 = {7.0f, 12.0f, 20.0f, 30.0f, 50.0f, 80.0f, 120.0f, 200.0f, 300.0f, 500.0f};

}  // namespace tables

// The accuracy classes in table-set order: the configuration's TableSet of a module is one of these.
enum TAccuracyClass { acClass2, acClass03, acClass15, acClass1, acClassB };
inline constexpr std::array<const char*, 5> kAccuracyClassNames = {"Класс 2", "Класс 0.3", "Класс 1,5", "Класс 1",
                                                                   "Класс B"};

// Shows a message to the technician (text, caption); the application passes its prompter, tests a recorder.
using TMessageHook = std::function<void(const std::string& text, const std::string& caption)>;

// The size index of a sensor's nominal maximum (its whole part: 7 -> 0, 12 -> 1, ... 200 -> 7). Any other
// value, NaN included, is reported through report as "Не соответствие типа датчика" / "Ошибка" and gives 0.
int SizeIndexOf(float nominalMax, const TMessageHook& report = {});

// Allowed error in percent of a flow q (m3/h) for the class tableSet, a sensor of pathsPerSensor paths and
// size sizeIndex; 0 where the class defines no limit. Never divides by zero: q <= 0 or NaN gives 0 for the
// classes whose limit falls with the flow.
float AllowedError(float q, int tableSet, int pathsPerSensor, int sizeIndex);

// Kinematic viscosity of water at tw degrees Celsius, m2/s.
float WaterViscosity(float tw);

}  // namespace rv
