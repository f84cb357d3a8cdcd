// The sensor's flow at an emulated delay, its profile coefficient and Reynolds number, and the transit
// time that gives a sensor a chosen reading at delay 1.
#include "sim/SensorFlowModel.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

namespace rv::sim {

namespace {

// The meter's own size table: nominal maximum, pipe diameter (m) and the base c of Kv = (c / 2D)².
struct SizeRow {
    int nominal;
    double diameter;
    double kvBase;
};
constexpr SizeRow kSizes[] = {
    {7, 0.02, 1},       {12, 0.025, 1}, {20, 0.032, 0.0382}, {30, 0.04, 0.0474},
    {50, 0.05, 0.0598}, {80, 0.065, 1}, {120, 0.08, 0.1012}, {200, 0.1, 1},
};
constexpr int kSizeCount = static_cast<int>(std::size(kSizes));

// Delay 1 of an ordinary sensor reads this share of its nominal maximum, so that its sweep reaches the
// nominal maximum between delays 9 and 10.
constexpr double kTypicalDelays = 9.5;

bool Positive(double v) { return std::isfinite(v) && v > 0; }

// The size row of a nominal maximum; an unknown one is taken as the smallest size.
const SizeRow& RowOf(double nominalMax)
{
    return kSizes[std::max(SensorFlowModel::SizeOf(nominalMax), 0)];
}

}  // namespace

int SensorFlowModel::SizeOf(double nominalMax)
{
    if (!std::isfinite(nominalMax) || nominalMax < 0 || nominalMax >= 1e6) return -1;
    const int whole = static_cast<int>(nominalMax);
    for (int i = 0; i < kSizeCount; ++i)
        if (kSizes[i].nominal == whole) return i;
    return -1;
}

double SensorFlowModel::WaterViscosity(double celsius)
{
    if (celsius < 60) return (1.78398 - 0.042549 * celsius + 0.0003505456 * celsius * celsius) * 1e-6;
    return (0.83243 - 0.0074036 * celsius + 0.00002107142 * celsius * celsius) * 1e-6;
}

int SensorFlowModel::LargestDelay(double nominalMax, double flowPerKfs)
{
    if (!Positive(flowPerKfs) || !Positive(nominalMax)) return 0;
    const double whole = std::floor(nominalMax / flowPerKfs + 1);
    if (whole > 1e6) return 1000000;
    int m = static_cast<int>(whole);
    if (1.33 * nominalMax < m * flowPerKfs) --m;
    return m;
}

SensorFlowModel::SensorFlowModel(double nominalMax, double kfs, double transitTime)
{
    const SizeRow& row = RowOf(nominalMax);
    diameter_ = row.diameter;
    kv_ = std::pow(row.kvBase / (2 * diameter_), 2);
    kfs_ = kfs;
    viscosity_ = WaterViscosity(kWaterTemperature);
    valid_ = Positive(kfs);
    transitTime_ = Positive(transitTime) ? transitTime : valid_ ? TypicalTransitTime(nominalMax, kfs) : 0;
    valid_ = valid_ && Positive(transitTime_);
}

double SensorFlowModel::ReynoldsAt(double m) const
{
    if (!valid_ || !(m > 0)) return 0;
    const double u = m * kTick / 2;
    return 2 * m * kTick * diameter_ * diameter_ * kv_ * kfs_ / (viscosity_ * std::pow(u + transitTime_, 2));
}

double SensorFlowModel::ProfileAt(double m) const
{
    const double r = ReynoldsAt(m);
    if (!(r > 0)) return 0;
    // The exponent stays above 5.9 for every Reynolds number, so the coefficient lies in (0.92, 1).
    const double lg = std::log10(r);
    const double n = 11.269 - 3.019 * lg + 0.432 * lg * lg;
    return 2 * n / (2 * n + 1);
}

double SensorFlowModel::FlowAt(double m) const
{
    if (!valid_ || !(m > 0)) return 0;
    const double u = m * kTick / 2;
    const double d3 = diameter_ * diameter_ * diameter_;
    return 3600 * std::numbers::pi * d3 * kv_ * kfs_ * ProfileAt(m) * u / std::pow(u + transitTime_, 2);
}

double SensorFlowModel::TransitTimeFor(double nominalMax, double kfs, double flowPerKfs)
{
    if (!Positive(kfs) || !Positive(flowPerKfs)) return 0;
    // The reading at delay 1 falls as the transit time grows (the profile's own rise is far weaker), so
    // the transit time is found by halving a wide bracket on a logarithmic scale.
    const auto perKfs = [&](double t) { return SensorFlowModel(nominalMax, kfs, t).FlowAt(1) / kfs; };
    double lo = 1e-9, hi = 1.0;
    if (perKfs(lo) < flowPerKfs || perKfs(hi) > flowPerKfs) return 0;
    for (int i = 0; i < 200; ++i) {
        const double mid = std::sqrt(lo * hi);
        (perKfs(mid) > flowPerKfs ? lo : hi) = mid;
    }
    return std::sqrt(lo * hi);
}

double SensorFlowModel::TypicalTransitTime(double nominalMax, double kfs)
{
    const double nominal = RowOf(nominalMax).nominal;
    return TransitTimeFor(nominal, kfs, nominal / kTypicalDelays);
}

}  // namespace rv::sim
