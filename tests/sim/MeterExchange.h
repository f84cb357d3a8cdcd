// What the simulator's tests do in place of the PC: send the meter one request frame and take its answer.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/Frame.h"
#include "sim/SimMeter.h"

namespace rv::test {

// The answer of the meter (0xC9) to one request from the PC (0xF0), as it goes on the line; empty when
// the meter stays silent.
inline std::vector<uint8_t> Ask(sim::SimMeter& meter, uint8_t command, const std::vector<uint8_t>& params)
{
    std::vector<uint8_t> frame(params.size() + 6);
    frame.resize(BuildRequest(frame.data(), 0xC9, command, params.data(), params.size(), 0xF0));
    std::vector<uint8_t> answer;
    meter.Receive(frame.data(), frame.size(),
                  [&](const std::vector<uint8_t>& a, const sim::FaultApplied&) { answer = a; });
    return answer;
}

// The payload of a framed answer; empty for anything shorter than a frame.
inline std::vector<uint8_t> Payload(const std::vector<uint8_t>& framed)
{
    return framed.size() < 5 ? std::vector<uint8_t>{} : std::vector<uint8_t>(framed.begin() + 2, framed.end() - 3);
}

}  // namespace rv::test
