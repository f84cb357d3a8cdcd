// Decimal separator and locale-independent number text.
#include "Locale.h"

#include <atomic>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>

namespace rv {

namespace {
std::atomic<char> g_separator{0};
}

char DecimalSeparator()
{
    char sep = g_separator.load();
    if (sep) return sep;
    const lconv* lc = std::localeconv();
    return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
}

void SetDecimalSeparator(char sep) { g_separator.store(sep); }

std::string FormatFixed(double value, int decimals)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    std::string s(buf, r.ptr);
    const char sep = DecimalSeparator();
    if (sep != '.')
        for (char& c : s)
            if (c == '.') c = sep;
    return s;
}

bool ParseNumber(const std::string& text, double& value)
{
    std::string t;
    t.reserve(text.size());
    const char sep = DecimalSeparator();
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    for (size_t i = b; i < e; ++i) {
        char c = text[i];
        t.push_back((c == ',' || c == sep) ? '.' : c);
    }
    if (t.empty()) return false;
    const char* first = t.data();
    if (*first == '+') ++first;
    double v = 0;
    auto r = std::from_chars(first, t.data() + t.size(), v);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return false;
    value = v;
    return true;
}

}  // namespace rv
