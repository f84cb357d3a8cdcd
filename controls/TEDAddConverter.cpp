// The value logic of the typed value field.
#include "TEDAddConverter.h"

#include "controls/Errors.h"
#include "controls/NumberText.h"
#include "core/Locale.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace rv {

namespace {

std::string ToChars(long double v, std::chars_format fmt, int precision)
{
    char buf[128];
    auto r = std::to_chars(buf, buf + sizeof buf, v, fmt, precision);
    return std::string(buf, r.ptr);
}

// Wrapping a 32-bit pattern into a narrower signed type keeps the low bits (two's complement).
template <class T>
T Low(uint32_t bits)
{
    using U = std::make_unsigned_t<T>;
    return static_cast<T>(static_cast<U>(bits));
}

}  // namespace

std::string TEDAddConverter::FormatFloat(long double value, int digits, char sep)
{
    std::string s;
    if (!std::isfinite(value)) {
        s = ToChars(value, std::chars_format::general, 15);
    } else if (digits <= 0) {
        s = ToChars(value, std::chars_format::general, 15);
    } else {
        digits = std::min(digits, 18);
        constexpr int kPrecision = 10;
        // The exponent after rounding to the precision, so that 9.99999999996 counts as 10.
        const std::string sci = ToChars(value, std::chars_format::scientific, kPrecision - 1);
        const int exponent = std::atoi(sci.c_str() + sci.find('e') + 1);
        if (exponent >= kPrecision) {
            s = sci;
        } else if (exponent + 1 + digits <= kPrecision) {
            s = ToChars(value, std::chars_format::fixed, digits);
        } else {
            // More decimals than the precision holds: round at the tenth significant digit, then pad with zeros.
            const int held = kPrecision - 1 - exponent;
            s = ToChars(value, std::chars_format::fixed, held);
            if (held == 0) s.push_back('.');
            s.append(static_cast<size_t>(digits - held), '0');
        }
    }
    if (sep != '.')
        for (char& c : s)
            if (c == '.') c = sep;
    return s;
}

std::string TEDAddConverter::In(signed char value) const
{
    return std::to_string(Low<int8_t>(InSum(static_cast<uint8_t>(value))));
}
std::string TEDAddConverter::In(unsigned char value) const
{
    return std::to_string(static_cast<uint8_t>(InSum(value)));
}
std::string TEDAddConverter::In(short value) const
{
    return std::to_string(Low<int16_t>(InSum(static_cast<uint16_t>(value))));
}
std::string TEDAddConverter::In(unsigned short value) const
{
    return std::to_string(static_cast<uint16_t>(InSum(value)));
}
std::string TEDAddConverter::In(int value) const
{
    return std::to_string(Low<int32_t>(InSum(static_cast<uint32_t>(value))));
}
// The field's text is a signed 32-bit number for both 32-bit types, so an unsigned sum of 2^31 and above shows
// negative; reading that text back stores the same 32 bits.
std::string TEDAddConverter::In(unsigned int value) const { return std::to_string(Low<int32_t>(InSum(value))); }
std::string TEDAddConverter::In(float value) const
{
    return FormatFloat(static_cast<long double>(value) + static_cast<long double>(inAdd_), floatDigit_,
                       DecimalSeparator());
}
std::string TEDAddConverter::In(double value) const
{
    return FormatFloat(static_cast<long double>(value) + static_cast<long double>(inAdd_), floatDigit_,
                       DecimalSeparator());
}

uint32_t TEDAddConverter::IntegerOut(const std::string& text) const
{
    int64_t v = 0;
    if (!ParseInt64(text, v)) throw EConversionError("Значение \"" + text + "\" не является целым числом.");
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        throw EConversionError("Число \"" + text + "\" вне допустимого диапазона.");
    return static_cast<uint32_t>(v) + static_cast<uint32_t>(outAdd_);
}

long double TEDAddConverter::FloatOut(const std::string& text) const
{
    long double v = 0;
    if (!ParseExtended(text, DecimalSeparator(), v))
        throw EConversionError("Значение \"" + text + "\" не является числом.");
    return v + static_cast<long double>(outAdd_);
}

void TEDAddConverter::Out(const std::string& text, signed char* var) const { *var = Low<int8_t>(IntegerOut(text)); }
void TEDAddConverter::Out(const std::string& text, unsigned char* var) const
{
    *var = static_cast<uint8_t>(IntegerOut(text));
}
void TEDAddConverter::Out(const std::string& text, short* var) const { *var = Low<int16_t>(IntegerOut(text)); }
void TEDAddConverter::Out(const std::string& text, unsigned short* var) const
{
    *var = static_cast<uint16_t>(IntegerOut(text));
}
void TEDAddConverter::Out(const std::string& text, int* var) const { *var = Low<int32_t>(IntegerOut(text)); }
void TEDAddConverter::Out(const std::string& text, unsigned int* var) const { *var = IntegerOut(text); }

void TEDAddConverter::Out(const std::string& text, float* var) const
{
    const long double v = FloatOut(text);
    if (std::fabs(v) > std::numeric_limits<float>::max())
        throw EConversionError("Число \"" + text + "\" вне допустимого диапазона.");
    *var = static_cast<float>(v);
}
void TEDAddConverter::Out(const std::string& text, double* var) const
{
    const long double v = FloatOut(text);
    if (std::fabs(v) > std::numeric_limits<double>::max())
        throw EConversionError("Число \"" + text + "\" вне допустимого диапазона.");
    *var = static_cast<double>(v);
}

}  // namespace rv
