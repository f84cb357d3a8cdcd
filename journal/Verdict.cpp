// The verdict from the printed figures: exact decimal comparison of the printed digits.
#include "journal/Verdict.h"

#include <algorithm>
#include <cstdlib>

namespace rv::journal {

namespace {

constexpr size_t kMaxDigits = 64;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimBlanks(std::string_view t)
{
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r')) t.remove_suffix(1);
    return t;
}

}  // namespace

bool ParsePrintedNumber(std::string_view text, SPrintedNumber& number)
{
    text = TrimBlanks(text);
    SPrintedNumber n;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        n.Negative = text.front() == '-';
        text.remove_prefix(1);
    }
    size_t i = 0;
    std::string whole, fraction;
    while (i < text.size() && IsDigit(text[i])) whole += text[i++];
    if (i < text.size() && (text[i] == ',' || text[i] == '.')) {
        ++i;
        while (i < text.size() && IsDigit(text[i])) fraction += text[i++];
    }
    if (i != text.size() || (whole.empty() && fraction.empty())) return false;
    if (whole.size() > kMaxDigits || fraction.size() > kMaxDigits) return false;
    const size_t lead = whole.find_first_not_of('0');
    n.Whole = lead == std::string::npos ? std::string() : whole.substr(lead);
    const size_t last = fraction.find_last_not_of('0');
    n.Fraction = last == std::string::npos ? std::string() : fraction.substr(0, last + 1);
    if (n.Whole.empty() && n.Fraction.empty()) n.Negative = false;  // "-0,000" is zero
    number = n;
    return true;
}

int CompareMagnitude(const SPrintedNumber& a, const SPrintedNumber& b)
{
    if (a.Whole.size() != b.Whole.size()) return a.Whole.size() < b.Whole.size() ? -1 : 1;
    if (const int c = a.Whole.compare(b.Whole); c != 0) return c < 0 ? -1 : 1;
    const size_t n = std::max(a.Fraction.size(), b.Fraction.size());
    const std::string fa = a.Fraction + std::string(n - a.Fraction.size(), '0');
    const std::string fb = b.Fraction + std::string(n - b.Fraction.size(), '0');
    const int c = fa.compare(fb);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool PrintedValue(std::string_view text, double& value)
{
    SPrintedNumber n;
    if (!ParsePrintedNumber(text, n)) return false;
    const std::string c = (n.Whole.empty() ? "0" : n.Whole) + "." + (n.Fraction.empty() ? "0" : n.Fraction);
    value = std::strtod(c.c_str(), nullptr);
    if (n.Negative) value = -value;
    return true;
}

EPointVerdict JudgePoint(const SVerificationPoint& point)
{
    if (!point.NotCheckedReason.empty() || point.RelativeError.empty() || point.AllowedError.empty())
        return EPointVerdict::NotChecked;
    SPrintedNumber relative, allowed;
    if (!ParsePrintedNumber(point.RelativeError, relative) || !ParsePrintedNumber(point.AllowedError, allowed))
        return EPointVerdict::Fail;
    if (allowed.Negative) return EPointVerdict::Fail;
    return CompareMagnitude(relative, allowed) <= 0 ? EPointVerdict::Pass : EPointVerdict::Fail;
}

const char* DirectionText(EDirection direction)
{
    return direction == EDirection::Reverse ? "обратное" : "прямое";
}

const char* PointVerdictText(EPointVerdict verdict)
{
    switch (verdict) {
        case EPointVerdict::Pass: return "годен";
        case EPointVerdict::Fail: return "не годен";
        case EPointVerdict::NotChecked: break;
    }
    return "не проверена";
}

const char* StateText(ERunState state)
{
    switch (state) {
        case ERunState::InProgress: return "в работе";
        case ERunState::Interrupted: return "прервана";
        case ERunState::Stopped: return "не завершена";
        case ERunState::Passed: return "годен";
        case ERunState::Failed: break;
    }
    return "не годен";
}

std::string PointName(const SVerificationPoint& point)
{
    return std::string(DirectionText(point.Direction)) + " направление, " + point.Nominal + " м3/ч";
}

SVerdict JudgeRun(const std::vector<SVerificationPoint>& points, bool completed, bool reverseAsked,
                  const std::string& stopReason)
{
    if (!completed)
        return {ERunState::Stopped, stopReason.empty() ? std::string("поверка остановлена") : stopReason};
    std::string failures;
    auto add = [&failures](const std::string& what) { failures += (failures.empty() ? "" : "; ") + what; };
    bool reverseSeen = false;
    for (const SVerificationPoint& p : points) {
        reverseSeen = reverseSeen || p.Direction == EDirection::Reverse;
        switch (JudgePoint(p)) {
            case EPointVerdict::Pass: break;
            case EPointVerdict::Fail:
                add(PointName(p) + ": погрешность " + p.RelativeError + "% при допустимой " + p.AllowedError + "%");
                break;
            case EPointVerdict::NotChecked:
                add(PointName(p) + ": точка не проверена" +
                    (p.NotCheckedReason.empty() ? std::string() : " (" + p.NotCheckedReason + ")"));
                break;
        }
    }
    if (points.empty()) add("нет проверенных точек");
    if (reverseAsked && !reverseSeen && !points.empty()) add("обратное направление не проверено");
    if (failures.empty()) return {ERunState::Passed, {}};
    return {ERunState::Failed, "не прошли поверку: " + failures};
}

}  // namespace rv::journal
