// Turns a line trace record into one line of text, for the headless runner's trace output.
#pragma once

#include <string>

#include "core/Trace.h"

namespace rv {

// "   12.345 send           C9 01 0F F0 C9 01": seconds.milliseconds of loop time, the kind, then the
// bytes in hex, or the retry counter for a repetition. No line end.
std::string FormatTraceRecord(const TraceRecord& record);

}  // namespace rv
