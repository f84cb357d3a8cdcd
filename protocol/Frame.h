// Frames on the line and their checksum: shared by the engine, the meter command set and the simulator.
//
// Request (PC to device), L = 1 + parameter bytes, L + 5 bytes in all:
//   0 destination | 1 L | 2 command | 3..L+1 parameters | L+2 source (master) | L+3 sum low | L+4 sum high
// Framed answer (device to PC), L = payload bytes, L + 5 bytes in all:
//   0 destination (master) | 1 L | 2..L+1 payload | L+2 untested byte | L+3 sum low | L+4 sum high
// The sum is the 16-bit sum of the unsigned bytes 0..L+2, stored low byte first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rv {

inline constexpr size_t kMaxFrame = 255;
inline constexpr size_t kMaxRequestParams = 249;
inline constexpr size_t kMaxAnswerPayload = 250;
inline constexpr size_t kIdentityAnswerSize = 19;
inline constexpr size_t kModuleCounterAnswerSize = 6;
inline constexpr uint8_t kWakeUpByte = 0x00;

// The checksum of count bytes (the count is one byte, so at most 255 bytes are summed).
uint16_t CRC(const void* data, unsigned char count);

// Builds a request frame into out (room for nparams + 5 bytes); returns its length, or 0 when
// nparams exceeds kMaxRequestParams.
size_t BuildRequest(uint8_t* out, uint8_t destination, uint8_t command, const void* params, size_t nparams,
                    uint8_t master);

// Builds a framed answer into out (room for npayload + 5 bytes); returns its length, or 0 when
// npayload exceeds kMaxAnswerPayload. filler is the untested byte at L+2.
size_t BuildAnswer(uint8_t* out, uint8_t master, const void* payload, size_t npayload, uint8_t filler);

enum class FrameCheck { Ok, Incomplete, WrongAddress, BadChecksum };

// Checks a framed answer held in size bytes: address, length, checksum. Never reads past size.
FrameCheck CheckFramedAnswer(const uint8_t* frame, size_t size, uint8_t master);
// The 19-byte identity answer: address and the sum over bytes 0..16, whatever byte 1 says.
FrameCheck CheckIdentityAnswer(const uint8_t* frame, size_t size, uint8_t master);

inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace rv
