// The verdict of a point and of a run, taken from the figures as the protocol prints them, so it never
// disagrees with the protocol's own digits; and the Russian names of states, directions and verdicts.
#pragma once

#include "journal/JournalTypes.h"

#include <string>
#include <string_view>
#include <vector>

namespace rv::journal {

// A decimal number as printed: optional sign, digits, optionally ',' or '.' and more digits, blanks around.
// Kept as its digit strings so comparing two of them is exact whatever their length.
struct SPrintedNumber {
    bool Negative = false;
    std::string Whole;     // without leading zeros
    std::string Fraction;  // without trailing zeros
};
bool ParsePrintedNumber(std::string_view text, SPrintedNumber& number);
// Compares |a| with |b|: negative, zero or positive.
int CompareMagnitude(const SPrintedNumber& a, const SPrintedNumber& b);
// The value, for drawing only; false when the text is not a printed number.
bool PrintedValue(std::string_view text, double& value);

// Pass when |relative error| <= allowed error; Fail when beyond or when a figure is not a number;
// NotChecked when the point was refused or its results are missing.
EPointVerdict JudgePoint(const SVerificationPoint& point);

struct SVerdict {
    ERunState State = ERunState::Stopped;
    std::string Outcome;  // the failing points named, or the stop reason; empty for a passed run
};
// "годен" only for a completed run with at least one point whose every point passes (and a reverse series
// when the run was asked for one); "не годен" naming the points otherwise; a run that did not complete is
// "не завершена" with its reason.
SVerdict JudgeRun(const std::vector<SVerificationPoint>& points, bool completed, bool reverseAsked,
                  const std::string& stopReason);

// "прямое"/"обратное"
const char* DirectionText(EDirection direction);
// "годен", "не годен", "не проверена"
const char* PointVerdictText(EPointVerdict verdict);
// "в работе", "прервана", "не завершена", "годен", "не годен"
const char* StateText(ERunState state);
// A point as the verdict names it: "прямое направление, 12,0000 м3/ч".
std::string PointName(const SVerificationPoint& point);

}  // namespace rv::journal
