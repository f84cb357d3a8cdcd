// Line settings shared by the serial driver, the device link and the protocol engine.
#pragma once

#include <cstdint>

namespace rv {

// Ordinals are fixed: they index the driver's rate table; brCustom uses the plain rate value.
enum TBaudRate {
    br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
    br56000, br57600, br115200, br128000, br256000, brCustom
};

// Bits per second of each rate below brCustom, in the order of TBaudRate.
inline constexpr uint32_t kBaudRateBits[brCustom] = {110,   300,   600,   1200,   2400,   4800,   9600,  14400,
                                                     19200, 38400, 56000, 57600, 115200, 128000, 256000};

// The bits per second of a rate; 0 for brCustom, whose rate is kept elsewhere.
constexpr uint32_t BitsPerSecond(TBaudRate rate)
{
    return rate >= br110 && rate < brCustom ? kBaudRateBits[rate] : 0;
}

// How the device link delivers received bytes.
enum TReceiveType { rtChar, rtShort, rtLong, rtFloat, rtPacket, rtAll };

}  // namespace rv
