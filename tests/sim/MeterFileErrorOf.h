// What the simulator's tests ask of a meter description text: the error that parsing it raises.
#pragma once

#include <string>

#include "sim/MeterDescription.h"

namespace rv::test {

// The error text of parsing json (named "test.json"), or "" when it parses and builds.
inline std::string ErrorOf(const std::string& json)
{
    try {
        sim::ParseMeter(json, "test.json");
    } catch (const sim::MeterFileError& e) {
        return e.what();
    }
    return "";
}

}  // namespace rv::test
