// Line settings shared by the serial driver, the device link and the protocol engine.
#pragma once

namespace rv {

// Ordinals are fixed: they index the driver's rate table; brCustom uses the plain rate value.
enum TBaudRate {
    br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
    br56000, br57600, br115200, br128000, br256000, brCustom
};

// How the device link delivers received bytes.
enum TReceiveType { rtChar, rtShort, rtLong, rtFloat, rtPacket, rtAll };

}  // namespace rv
