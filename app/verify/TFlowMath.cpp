// The flow model: transit time from the sweep at the largest delay, the power-law flow profile, the exact
// delay of a flow and the search for the two-delay pattern that represents it.
#include "app/verify/TFlowMath.h"

#include "app/verify/FlowTables.h"
#include "core/Locale.h"

#include <algorithm>
#include <cmath>

namespace rv {

namespace {

using real = long double;

constexpr real kPi = 3.14159265358979L;
constexpr real kTwoPi = 6.28318530717958L;
constexpr real kDt = kTickSeconds;  // the float value, widened

constexpr real Sq(real x) { return x * x; }

bool IsFinite(float v) { return std::isfinite(v); }

}  // namespace

const TDelayTable* TFlowMath::ActiveTable() const
{
    if (!FwdTable) return nullptr;
    return (*FwdTable)[0] == 1.0f ? RevTable : FwdTable;
}

float TFlowMath::ComputeKv()
{
    const real c = tables::KvBase[static_cast<size_t>(SizeIndex)];
    Kv = static_cast<float>(Sq(c / (2.0L * PipeDiameter)));
    return Kv;
}

float TFlowMath::SolveTransitTime(const TDelayTable& a)
{
    real q = a[static_cast<size_t>(MaxDelay)] / 3600.0L;
    if (q == 0.0L) q = 1e-9L;
    const real d = PipeDiameter;
    const real s = std::sqrt(kTwoPi * MaxDelay * kDt * d * d * d * Kfs * Kh * Kv / q);
    TransitTime = static_cast<float>((s - MaxDelay * kDt) / 2.0L);
    return TransitTime;
}

float TFlowMath::ReynoldsAtMax()
{
    const real nu = WaterViscosity(WaterTemp);
    const int32_t h = MaxDelay / 2;
    const real d = PipeDiameter;
    Reynolds = static_cast<float>(2.0L * d * d * MaxDelay * kDt * Kv * Kfs / (nu * Sq(h * kDt + TransitTime)));
    return Reynolds;
}

float TFlowMath::ReynoldsAt(float m)
{
    const real nu = WaterViscosity(WaterTemp);
    const real d = PipeDiameter;
    Reynolds = static_cast<float>(2.0L * m * kDt * d * d * Kv * Kfs / (nu * Sq(m * kDt / 2.0L + TransitTime)));
    return Reynolds;
}

// The three logarithms of the exponent all see the same stored Reynolds number, so one is computed.
float TFlowMath::ExponentOf(float reynolds)
{
    const real lg = std::log10(static_cast<real>(reynolds));
    Exponent = static_cast<float>(11.269L - 3.019L * lg + 0.432L * lg * lg);
    return Exponent;
}

float TFlowMath::ExponentAtMax() { return ExponentOf(ReynoldsAtMax()); }

float TFlowMath::ExponentAt(float m) { return ExponentOf(ReynoldsAt(m)); }

float TFlowMath::ProfileAtMax()
{
    const real n = ExponentAtMax();
    Kh = static_cast<float>(2.0L * n / (2.0L * n + 1.0L));
    return Kh;
}

float TFlowMath::ProfileAt(float m)
{
    if (m == 0.0f) m = 1e-10f;  // delay 0 would give a Reynolds number of 0 and no logarithm
    const real n = ExponentAt(m);
    Kh = static_cast<float>(2.0L * n / (2.0L * n + 1.0L));
    return Kh;
}

float TFlowMath::FlowOf(float k1, float k2, int32_t s1, int32_t s2) const
{
    const real u1 = DelayHigh * kDt / 2.0L;
    const real u2 = DelayLow * kDt / 2.0L;
    const real t = TransitTime;
    const real d = PipeDiameter;
    const real sum = k1 * u1 * s1 / Sq(u1 + t) + k2 * u2 * s2 / Sq(u2 + t);
    return static_cast<float>(3600.0L * kPi * d * d * d * Kv * Kfs * sum / (static_cast<real>(s1) + s2));
}

float TFlowMath::PatternFlow()
{
    if (CountHigh == 0 && CountLow == 0) return 0.0f;
    const float k1 = ProfileAt(static_cast<float>(DelayHigh));
    const float k2 = ProfileAt(static_cast<float>(DelayLow));
    return FlowOf(k1, k2, CountHigh, CountLow);
}

SPatternResult TFlowMath::Fail(TPatternFault fault, std::string message)
{
    Pattern.fill(0);
    DelayHigh = DelayLow = 0;
    CountHigh = CountLow = 0;
    SPatternResult r;
    r.Fault = fault;
    r.Message = std::move(message);
    return r;
}

SPatternResult TFlowMath::BuildPattern(float q)
{
    Pattern.fill(0);
    DelayExact = 0.0f;
    DelayEstimate = DelayHigh = DelayLow = CountHigh = CountLow = 0;

    if (MaxDelay < 0 || MaxDelay >= kDelayCount)
        return Fail(pfMaxDelay,
                    "Максимальная задержка Mmax=" + std::to_string(MaxDelay) + " вне допустимого диапазона 0..19");
    const TDelayTable* active = ActiveTable();
    if (!active) return Fail(pfNoTable, "Нет таблицы расходов по задержкам");
    if (SizeIndex < 0 || SizeIndex >= kSizeCount)
        return Fail(pfSizeIndex, "Типоразмер датчика " + std::to_string(SizeIndex) + " вне диапазона 0..9");
    if (!(PipeDiameter > 0.0f) || !IsFinite(PipeDiameter))
        return Fail(pfDiameter, "Недопустимый диаметр трубы датчика");
    // A negative KFS would take the square root or the logarithm of a negative number below.
    if (!(Kfs > 0.0f) || !IsFinite(Kfs)) return Fail(pfKfs, "Недопустимый коэффициент KFS датчика");
    // A negative flow would never be matched: the pattern flows are positive.
    if (!(q >= 0.0f) || !IsFinite(q)) return Fail(pfFlow, "Недопустимое значение расхода");
    const TDelayTable& a = *active;
    const auto at = [&a](int32_t m) -> real { return a[static_cast<size_t>(m)]; };
    const auto notCovered = [this] {
        return "Расход не покрывается диапазоном задержек 0.." + std::to_string(MaxDelay);
    };

    // The required flow is kept in m3/h: the comparisons with the sweep table then see the value as given.
    real flow = q;
    const real qs = flow / 3600.0L;

    ComputeKv();
    Kh = 1.0f;
    SolveTransitTime(a);
    for (int i = 0; i < 10; ++i) {
        ProfileAtMax();
        SolveTransitTime(a);
    }
    if (!IsFinite(TransitTime))
        return Fail(pfModel, "Время прохождения ультразвука не определяется по таблице расходов");

    const real d3 = Sq(PipeDiameter) * PipeDiameter;
    const auto delayFor = [&](float k) {
        return static_cast<float>(2.0L * qs * Sq(TransitTime) / (kPi * Kfs * d3 * k * Kv * kDt));
    };
    float m = delayFor(Kh);
    for (int i = 0; i < 10; ++i) m = delayFor(ProfileAt(m));
    DelayExact = m;
    if (!(m >= 0.0f) || !IsFinite(m)) return Fail(pfModel, "Задержка для расхода не определяется");
    // The delay is estimated before a flow above the table is brought down to 90 % of its top, so a flow
    // beyond the sweep gives a delay beyond MaxDelay. Checked before the whole part is taken, so the
    // conversion cannot overflow.
    if (m >= static_cast<float>(MaxDelay + 1))
        return Fail(pfOutOfRange, notCovered() + " (требуется задержка " + FormatFixed(m, 1) + ")");

    DelayEstimate = static_cast<int32_t>(m);
    DelayHigh = DelayEstimate > 0 ? DelayEstimate : 1;
    DelayLow = DelayHigh - 1;
    CountHigh = 1;
    CountLow = 1;
    if (DelayHigh > MaxDelay) return Fail(pfOutOfRange, notCovered());

    if (flow > at(MaxDelay)) flow = 0.9L * at(MaxDelay);
    if (flow > at(DelayHigh)) {
        ++DelayHigh;
        DelayLow = DelayHigh - 1;
        if (DelayHigh > MaxDelay) return Fail(pfOutOfRange, notCovered());
    }
    if (flow == 0.0L) flow = 3600.0L * 1e-8L;

    // Only the counts change from pass to pass, so the two profile coefficients are computed once; the
    // second is computed last, as PatternFlow does, so the model fields end as they would.
    const float k1 = ProfileAt(static_cast<float>(DelayHigh));
    const float k2 = ProfileAt(static_cast<float>(DelayLow));
    // Every pattern flow is a weighted mean of the flows of the two pure delays; when the 5 % window around
    // the required flow lies clearly outside them, no count can reach it (the margin covers rounding).
    const float pureHigh = FlowOf(k1, k2, 1, 0);
    const float pureLow = FlowOf(k1, k2, 0, 1);
    if (!IsFinite(pureHigh) || !IsFinite(pureLow)) return Fail(pfModel, "Расход набора задержек не определяется");
    const real margin = 1e-5L;
    if (std::max(pureHigh, pureLow) < 0.95L * flow * (1.0L - margin) ||
        std::min(pureHigh, pureLow) > 1.05L * flow * (1.0L + margin))
        return Fail(pfOutOfRange, "Расход не покрывается расходами задержек " + std::to_string(DelayLow) + " и " +
                                      std::to_string(DelayHigh));
    for (int pass = 0;; ++pass) {
        const float p = FlowOf(k1, k2, CountHigh, CountLow);
        const real e = (flow - p) / flow;
        if (-0.05L <= e && e <= 0.05L) break;
        if (pass == kMaxPatternPasses)
            return Fail(pfNoConvergence, "Набор задержек для расхода не подобран за " +
                                             std::to_string(kMaxPatternPasses) + " шагов");
        if (flow < p) ++CountLow;
        else if (flow > p) ++CountHigh;
    }

    Pattern[static_cast<size_t>(DelayHigh)] = static_cast<uint32_t>(CountHigh);
    Pattern[static_cast<size_t>(DelayLow)] = static_cast<uint32_t>(CountLow);
    SPatternResult r;
    r.Pattern = &Pattern;
    return r;
}

}  // namespace rv
