// The flow model of one sensor: turns a required flow into a pattern of two neighbouring emulated delays
// and computes the flow that a pattern represents.
#pragma once

#include "core/TObject.h"

#include <array>
#include <cstdint>
#include <string>

namespace rv {

// The meter's time base: one tick of the emulated delay, seconds. Held as a float, as the model uses it.
inline constexpr float kTickSeconds = 5.5556e-8f;
// Delays 0..19 are emulated and swept; the pattern and the sweep tables have one element per delay.
inline constexpr int kDelayCount = 20;
// The pattern search adds one count per pass, so a pattern for a flow f below the flow F of delay 1 needs
// about F/f passes. Points of the flow tables need a few hundred; a zero flow (searched as 3.6e-5 m3/h)
// needs up to a few million on the largest sensors. One pass takes tens of nanoseconds.
inline constexpr int kMaxPatternPasses = 10000000;

using TDelayTable = std::array<float, kDelayCount>;
using TPattern = std::array<uint32_t, kDelayCount>;

enum TPatternFault {
    pfNone,
    pfMaxDelay,       // MaxDelay outside 0..19
    pfNoTable,        // the active sweep table is not set
    pfSizeIndex,      // SizeIndex outside 0..9
    pfDiameter,       // PipeDiameter not a positive number
    pfKfs,            // Kfs zero or not a number
    pfFlow,           // the required flow is negative or not a number
    pfModel,          // the model gives no finite transit time, delay or flow for these inputs
    pfOutOfRange,     // the flow needs a delay above MaxDelay, or lies outside the flows of the two delays
    pfNoConvergence,  // no pattern within 5 % after kMaxPatternPasses passes
};

// What BuildPattern gives back: the pattern, or the reason there is none and a text for the technician.
struct SPatternResult {
    const TPattern* Pattern = nullptr;
    TPatternFault Fault = pfNone;
    std::string Message;
    bool Ok() const { return Fault == pfNone; }
};

// The caller sets SizeIndex, PipeDiameter (the diameter table at SizeIndex), Kfs, WaterTemp, MaxDelay,
// FwdTable and RevTable, then calls BuildPattern for each required flow. Every value is held in 32 bits and
// each step stores its result in its field before the next step reads it; arithmetic within one formula is
// done in long double.
class TFlowMath : public TObject {
public:
    // The delay pattern for a required flow q (m3/h). Also sets TransitTime, Kh, Kv, DelayExact, DelayHigh,
    // DelayLow, CountHigh and CountLow. On a fault Pattern, the delays and the counts are 0 and the result
    // says why in a text for the technician; the model fields hold what was computed up to the fault.
    // Never reads or writes outside Pattern and the tables.
    SPatternResult BuildPattern(float q);
    // The flow (m3/h) of the current pattern: delay DelayHigh CountHigh times and DelayLow CountLow times;
    // 0 when both counts are 0 (no pattern).
    float PatternFlow();
    // RevTable when FwdTable[0] is exactly 1.0, else FwdTable; null when that table is not set.
    const TDelayTable* ActiveTable() const;

    TPattern Pattern{};
    float PipeDiameter = 0.0f;
    float Kfs = 0.0f;
    int32_t MaxDelay = 0;
    const TDelayTable* FwdTable = nullptr;  // owned by the caller, like RevTable
    const TDelayTable* RevTable = nullptr;
    float Kh = 0.0f;
    float Kv = 0.0f;
    float TransitTime = 0.0f;
    int32_t SizeIndex = 0;
    float Reynolds = 0.0f;
    float WaterTemp = 20.0f;
    int32_t DelayHigh = 0;
    int32_t DelayLow = 0;
    float Exponent = 0.0f;
    int32_t DelayEstimate = 0;
    int32_t CountHigh = 0;
    int32_t CountLow = 0;
    float DelayExact = 0.0f;

private:
    // The steps of the model; each stores its result in the field it is named after and returns it.
    // SizeIndex, MaxDelay and the table have been checked by BuildPattern before any of them runs.
    float ComputeKv();
    float SolveTransitTime(const TDelayTable& a);
    float ReynoldsAtMax();
    float ReynoldsAt(float m);
    float ExponentAtMax();
    float ExponentAt(float m);
    float ProfileAtMax();
    float ProfileAt(float m);

    float ExponentOf(float reynolds);
    // The flow of s1 counts of DelayHigh and s2 of DelayLow, with their profile coefficients k1 and k2.
    float FlowOf(float k1, float k2, int32_t s1, int32_t s2) const;
    SPatternResult Fail(TPatternFault fault, std::string message);
};

}  // namespace rv
