// Number texts of the protocol.
#include "app/window/ProtocolFormat.h"

#include "core/Locale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace rv {

std::string FixedText(double value, int decimals)
{
    std::string s = FormatFixed(value, decimals);
    if (!s.empty() && s[0] == '-' && s.find_first_of("123456789") == std::string::npos) s.erase(0, 1);
    return s;
}

std::string ValueText(double value)
{
    if (std::isnan(value)) return "не число";
    if (std::isinf(value)) return value > 0 ? "бесконечность" : "минус бесконечность";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.7g", value);
    std::string s = buf;
    const char sep = DecimalSeparator();
    for (char& c : s)
        if (c == '.' || c == ',') c = sep;
    return s;
}

std::string ExponentText(double value, int digits, int exponentDigits)
{
    if (!std::isfinite(value)) return FormatFixed(value, 0);
    digits = std::clamp(digits, 1, 17);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*E", digits - 1, value);
    std::string s = buf;
    const size_t e = s.find('E');
    if (e == std::string::npos || e + 2 > s.size()) return s;
    std::string mantissa = s.substr(0, e);
    const char sign = s[e + 1];
    std::string exponent = s.substr(e + 2);
    while (static_cast<int>(exponent.size()) < exponentDigits) exponent.insert(exponent.begin(), '0');
    const char sep = DecimalSeparator();
    // printf writes the C library's separator, which need not be the one in force.
    for (char& c : mantissa)
        if (c == '.' || c == ',') c = sep;
    return mantissa + "E" + (sign == '-' ? "-" : "+") + exponent;
}

}  // namespace rv
