// The key filter of the numeric edit: which typed character a field of a number format accepts.
#pragma once

#include <string_view>

namespace rv {

enum TDigitalType { deSerial, deDecimal, deHex, deFloat };

// The published settings of a numeric edit that decide what a key does.
struct SDigitalSettings {
    TDigitalType DigitalType = deSerial;
    bool ControlOfRange = false;
    long double MaxValue = 0;  // inclusive
    long double MinValue = 0;  // inclusive
};

// Filters one typed character for a field holding text (UTF-8), of which selectionBytes bytes are selected.
// Returns the character to insert (',' or '.' become sep in deFloat) or 0 when the key is refused.
// With the range test on, the candidate is the text with the key appended (or the key alone when the whole
// text is selected, which typing replaces); a candidate that is no number throws EConversionError.
char FilterDigitalKey(std::string_view text, size_t selectionBytes, char key, const SDigitalSettings& settings,
                      char sep);

}  // namespace rv
