// What a KFS coefficient typed by the technician may be before it goes to the meter: a number in 0.1 … 10 whose
// text fits the meter's KFS text field; one outside 0.5 … 2 is written only when the technician confirms it.
#pragma once

#include <cstddef>
#include <string>

namespace rv {

inline constexpr long double kKfsMin = 0.1L;
inline constexpr long double kKfsMax = 10.0L;
inline constexpr long double kKfsUsualMin = 0.5L;
inline constexpr long double kKfsUsualMax = 2.0L;
// The meter's KFS text field is 10 bytes: at most 9 characters and a terminating zero.
inline constexpr size_t kKfsTextChars = 9;

enum TKfsVerdict {
    kvUsual,    // written as it is
    kvUnusual,  // written once the technician has confirmed UnusualKfsQuestion
    kvRefused,  // never written; Message says why
};

struct SKfsValue {
    TKfsVerdict Verdict = kvRefused;
    float Value = 0.0f;   // the coefficient, when not refused
    std::string Message;  // why it is refused
};

// Checks the text as typed, with '.', ',' or the locale's separator.
SKfsValue CheckKfsValue(const std::string& typed);
// "Коэффициент 3,5 необычно далек от 1. Записать?", with the coefficient as typed.
std::string UnusualKfsQuestion(const std::string& typed);

}  // namespace rv
