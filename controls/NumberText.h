// Strict number parsing for the controls: the whole text must be the number, with either separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rv {

// A finite number written with '.', ',' or sep as its decimal separator, surrounded by at most spaces and tabs.
bool ParseExtended(std::string_view text, char sep, long double& value);
// A decimal integer with an optional sign, surrounded by at most spaces and tabs; false when it does not fit.
bool ParseInt64(std::string_view text, int64_t& value);

// Shortens a text to at most maxBytes without cutting a UTF-8 sequence in two.
std::string_view CutUtf8(std::string_view text, size_t maxBytes);
bool IsValidUtf8(std::string_view text);

}  // namespace rv
