// Number texts of the protocol: fixed notation and the scientific notation of the transit time, both with
// the locale's decimal separator.
#pragma once

#include <string>

namespace rv {

// Fixed notation with the given decimals; a value that rounds to zero is shown without a minus sign.
std::string FixedText(double value, int decimals);
// A value for a message that names it: up to 7 significant digits with the locale's separator, or in words when
// it is no number ("не число") or infinite ("бесконечность", "минус бесконечность").
std::string ValueText(double value);
// Scientific notation with `digits` significant digits and an exponent of at least `exponentDigits` digits,
// its sign always shown: ExponentText(0.0001234, 4, 4) is "1,234E-0004" with a comma as separator.
std::string ExponentText(double value, int digits, int exponentDigits);

}  // namespace rv
