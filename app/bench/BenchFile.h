// The bench file: the meters of a bench, a line each, "PORT [--sensor N] [--reverse] [--extra-info]
// [--answer yes|no]"; blank lines are skipped, and a '#' at the start of a word begins a comment to the line's end. What a line does not say comes from the
// options every meter gets.
#pragma once

#include "app/bench/BenchTypes.h"

#include <string>
#include <vector>

namespace rv {

// A bench holds at most this many meters.
inline constexpr size_t kMaxBenchMeters = 64;

// Reads the file at path; false with a message for the technician naming the file and the line otherwise. Files
// larger than kMaxBenchFileBytes are refused unread.
bool ReadBenchFile(const std::string& path, const SBenchMeterOptions& common, std::vector<SBenchMeterOptions>& meters,
                   std::string& error);
// The same for the file's text; source names it in the messages.
bool ParseBenchText(const std::string& text, const std::string& source, const SBenchMeterOptions& common,
                    std::vector<SBenchMeterOptions>& meters, std::string& error);
inline constexpr size_t kMaxBenchFileBytes = 64 * 1024;
// One meter per port: false with a message naming the first port given twice.
bool DistinctPorts(const std::vector<SBenchMeterOptions>& meters, std::string& error);

}  // namespace rv
