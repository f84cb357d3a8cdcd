// Reads the result lines of a protocol: the nominal and set flow of each point, then its measured flow,
// relative and allowed error, or the line saying it was not checked.
#include "journal/ProtocolPoints.h"

#include "journal/Verdict.h"

#include <string>

namespace rv::journal {

namespace {

constexpr std::string_view kNominal = "Номинальное значение расхода ";
constexpr std::string_view kSet = "Задаваемое значение расхода ";
constexpr std::string_view kMeasured = "Измеренное значение расхода ";
constexpr std::string_view kRelative = "Относительная погрешность измерения ";
constexpr std::string_view kAllowed = "Допустимая погрешность измерения ";
constexpr std::string_view kNotChecked = "Точка не проверена: ";
constexpr std::string_view kFlowUnit = "м3/ч";

// The figure after the line's head up to its unit ("12,1436м3/ч    m=9 S=1" gives "12,1436").
std::string Figure(std::string_view rest, std::string_view unit)
{
    const size_t end = rest.find(unit);
    std::string_view f = end == std::string_view::npos ? rest : rest.substr(0, end);
    while (!f.empty() && f.back() == ' ') f.remove_suffix(1);
    return std::string(f);
}

bool Take(std::string_view line, std::string_view head, std::string_view& rest)
{
    if (line.substr(0, head.size()) != head) return false;
    rest = line.substr(head.size());
    return true;
}

}  // namespace

std::vector<SVerificationPoint> ParseProtocolPoints(std::string_view protocol, bool reverseRun)
{
    std::vector<SVerificationPoint> points;
    size_t at = 0;
    while (at <= protocol.size()) {
        size_t end = protocol.find('\n', at);
        if (end == std::string_view::npos) end = protocol.size();
        std::string_view line = protocol.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view rest;
        if (Take(line, kNominal, rest)) {
            if (points.size() >= kMaxProtocolPoints) break;
            points.emplace_back();
            points.back().Nominal = Figure(rest, kFlowUnit);
            continue;
        }
        if (points.empty()) continue;
        SVerificationPoint& p = points.back();
        if (Take(line, kSet, rest)) p.Set = Figure(rest, kFlowUnit);
        else if (Take(line, kMeasured, rest)) p.Measured = Figure(rest, kFlowUnit);
        else if (Take(line, kRelative, rest)) p.RelativeError = Figure(rest, "%");
        else if (Take(line, kAllowed, rest)) p.AllowedError = Figure(rest, "%");
        else if (Take(line, kNotChecked, rest)) p.NotCheckedReason = std::string(rest);
    }
    if (reverseRun && !points.empty()) {
        // The reverse series repeats the forward one's nominal flows from the first.
        for (size_t i = 1; i < points.size(); ++i) {
            if (points[i].Nominal != points[0].Nominal) continue;
            bool repeats = true;
            for (size_t j = i; j < points.size() && j - i < i; ++j)
                repeats = repeats && points[j].Nominal == points[j - i].Nominal;
            if (!repeats) continue;
            for (size_t j = i; j < points.size(); ++j) points[j].Direction = EDirection::Reverse;
            break;
        }
    }
    for (SVerificationPoint& p : points) p.Verdict = JudgePoint(p);
    return points;
}

}  // namespace rv::journal
