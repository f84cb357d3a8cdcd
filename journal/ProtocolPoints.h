// The test points read back from a protocol text: a cross-check of the points a run recorded, and the points
// of a protocol that was kept only as text.
#pragma once

#include "journal/JournalTypes.h"

#include <string_view>
#include <vector>

namespace rv::journal {

// The points in the order printed, each judged (JudgePoint). When reverseRun is set, the reverse series is
// taken to begin where the nominal flows start over from the first one; a point whose results were never
// printed (a stopped run) is NotChecked with empty figures. Lines may end in "\r\n" or "\n"; at most
// kMaxProtocolPoints points are read.
std::vector<SVerificationPoint> ParseProtocolPoints(std::string_view protocol, bool reverseRun);

constexpr size_t kMaxProtocolPoints = 100;

}  // namespace rv::journal
