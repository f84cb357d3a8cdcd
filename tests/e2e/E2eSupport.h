// What the whole-run tests share: meters from the shipped description files, the reference protocols, and
// the figures read back from a protocol.
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/Locale.h"
#include "sim/MeterDescription.h"

namespace rv::test {

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A shipped meter description by file name ("three-path.json"); the built-in meter for an empty name.
inline sim::MeterDescription Meter(const std::string& file)
{
    if (file.empty()) return sim::DefaultDescription();
    const std::string path = std::string(RIVANTA_SIM_METERS) + "/" + file;
    return sim::ParseMeterDescription(ReadText(path), path);
}

// The numbers that follow a line's head, one per line that starts with it ("Относительная погрешность ...").
inline std::vector<double> Figures(const std::string& protocol, const std::string& head)
{
    std::vector<double> out;
    size_t at = 0;
    while ((at = protocol.find(head, at)) != std::string::npos) {
        at += head.size();
        const size_t end = protocol.find_first_not_of("-0123456789,.", at);
        double v = 0;
        if (ParseNumber(protocol.substr(at, end - at), v)) out.push_back(v);
    }
    return out;
}

}  // namespace rv::test
