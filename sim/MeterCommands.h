// The meter's own commands (0x80..0x86, 0x90, 0x91) as handlers of the simulated meter.
#pragma once

#include <cstdint>

namespace rv::sim {

class SimMeter;

namespace cmd {
inline constexpr uint8_t kSaveData = 0x80;
inline constexpr uint8_t kAnalogStart = 0x81;
inline constexpr uint8_t kAnalogRead = 0x82;
inline constexpr uint8_t kAnalogEnd = 0x83;
inline constexpr uint8_t kStartFlowCalculation = 0x84;
inline constexpr uint8_t kStartTermCalculation = 0x85;
inline constexpr uint8_t kPressData = 0x86;
inline constexpr uint8_t kReadArchive = 0x90;
inline constexpr uint8_t kTestArchive = 0x91;
}  // namespace cmd

// Installs the handlers. The measurement commands are acknowledged with kAckOk and noted in the
// image's meterCommands; 0x84 leaves RAM as it is, for the emulator physics to wrap. The answers:
//   0x82 (u16 v, u8 n)         framed: v (2 bytes), n, the channel of the last 0x81
//   0x86 ()                    framed: the image's pressData
//   0x90 (u32 addr, u8 bytes, u8 width)
//                              framed: for each of the bytes / width values, the first width
//                              bytes of successive records from addr, the record size being the
//                              one of the ring that holds addr (MeterImage::RecordSizeAt)
//   0x91 (u8, u32, u16)        framed: the seven parameter bytes
// A request whose parameters do not fit its command is not answered.
void InstallMeterCommands(SimMeter& meter);

}  // namespace rv::sim
