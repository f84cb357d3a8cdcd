// The decimal separator of the user's locale, injectable for tests and set by the GUI from Qt.
#pragma once

#include <string>

namespace rv {

// The separator in force: the one set by SetDecimalSeparator, else the C library's LC_NUMERIC one.
char DecimalSeparator();
// 0 goes back to the C library's locale.
void SetDecimalSeparator(char sep);

// Formats value with the given number of decimals, using DecimalSeparator().
std::string FormatFixed(double value, int decimals);
// Parses a number written with '.' or ',' (or the locale's separator); false when the whole text is not one.
bool ParseNumber(const std::string& text, double& value);

}  // namespace rv
