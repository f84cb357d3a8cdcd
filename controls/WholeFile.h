// Files read with a bound and written whole or not at all.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace rv {

// At most maxBytes of a regular file (never blocks on a pipe or device); nullopt when it cannot be read.
// truncated tells whether the file held more.
std::optional<std::string> ReadFileBounded(const std::string& path, size_t maxBytes, bool* truncated = nullptr);
// Writes bytes to a new file beside path, flushes it to the disk and renames it over path; throws EFileError
// with the reason and removes the new file when any step fails. New files left beside path by writes that were
// killed before their rename are removed after it.
void WriteFileWhole(const std::string& path, std::string_view bytes);

}  // namespace rv
