// The decimal separator of the protocol texts, the coefficient texts and the messages is the comma in the window
// tests, as on the technician's system.
#pragma once

#include "core/Locale.h"

namespace rv::test {

class CommaSeparator {
public:
    CommaSeparator() { SetDecimalSeparator(','); }
    ~CommaSeparator() { SetDecimalSeparator(0); }
};

}  // namespace rv::test
