// Code page 1251 at the edges: bytes from the meter and saved files; UTF-8 inside the program.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rv {

// Decodes at most maxLen bytes, stopping at the first 0 byte.
std::string FromCp1251(const void* bytes, size_t maxLen);
std::string FromCp1251(std::string_view bytes);
// Encodes UTF-8 text; a character code page 1251 lacks becomes '?'. Invalid UTF-8 bytes become '?'.
std::string ToCp1251(std::string_view utf8);

}  // namespace rv
