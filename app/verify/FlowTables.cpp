// The size index, the allowed error of the accuracy classes and the viscosity of water.
#include "app/verify/FlowTables.h"

#include <cmath>

namespace rv {

int SizeIndexOf(float nominalMax, const TMessageHook& report)
{
    // Compared as floats: no conversion to an integer, so NaN or a huge value cannot overflow one.
    const float whole = std::trunc(nominalMax);
    for (size_t i = 0; i < tables::NominalMax.size(); ++i)
        if (whole == tables::NominalMax[i]) return static_cast<int>(i);
    if (report) report("Не соответствие типа датчика", "Ошибка");
    return 0;
}

namespace {

// Limit of a class whose error falls with the flow: base + share * top / q.
float FallingLimit(long double base, long double share, float top, float q)
{
    if (!(q > 0.0f) || !std::isfinite(q)) return 0.0f;
    return static_cast<float>(base + share * top / q);
}

// Three-band classes: 1.5 % in the upper band, 3 % in the middle one, 5 % in the lower one.
float BandLimit(float q, float b1, float b2, float b3, float b4)
{
    if (b3 <= q && q <= b4) return 1.5f;
    if (b2 <= q && q < b3) return 3.0f;
    if (b1 <= q && q < b2) return 5.0f;
    return 0.0f;
}

}  // namespace

float AllowedError(float q, int tableSet, int pathsPerSensor, int sizeIndex)
{
    if (sizeIndex < 0 || sizeIndex >= kSizeCount) return 0.0f;
    const auto i = static_cast<size_t>(sizeIndex);
    using namespace tables;
    switch (tableSet) {
    case acClass2:
        return FallingLimit(2.0L, 0.02L, B4[i], q);
    case acClass03:
        return (D2[i] <= q && q <= D3[i]) ? 0.3f : 0.0f;
    case acClass15:
        if (pathsPerSensor == 1) return BandLimit(q, A1[i], A2[i], A3[i], A4[i]);
        return BandLimit(q, C1[i], C2[i], C3[i], C4[i]);
    case acClass1:
        return FallingLimit(1.0L, 0.01L, C4[i], q);
    case acClassB: {
        const float upper = pathsPerSensor == 1 ? 3.0f : 2.0f;
        if (D2[i] <= q && q <= D3[i]) return upper;
        if (D1[i] <= q && q < D2[i]) return 5.0f;
        return 0.0f;
    }
    default:
        return 0.0f;
    }
}

float WaterViscosity(float tw)
{
    const long double t = tw;
    if (t < 60.0L) return static_cast<float>((1.78398L - 0.042549L * t + 0.0003505456L * t * t) * 1e-6L);
    return static_cast<float>((0.83243L - 0.0074036L * t + 0.00002107142L * t * t) * 1e-6L);
}

}  // namespace rv
