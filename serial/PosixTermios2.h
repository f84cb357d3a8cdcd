// The line settings as termios expresses them, applied and read back through the termios2
// ioctls (every rate, standard or not). Kept apart because the kernel's termbits header
// clashes with the C library's termios header.
#pragma once

#include <cstdint>

namespace rv::posix {

struct SLineSettings {
    uint32_t Rate = 9600;
    int ByteSize = 8;  // 5..8
    int Parity = 0;    // 0..4: none, odd, even, mark, space
    bool TwoStopBits = false;
    bool RtsCts = false;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    uint8_t XonChar = 0x11;
    uint8_t XoffChar = 0x13;
    bool ParityCheck = false;
    // Input is reported readable once this many bytes are queued (VMIN with VTIME 0); 0 for any.
    uint8_t ReadMinimum = 0;
};

// Puts the line into raw mode with these settings (reads return at once with what is queued).
// False with errno set when the device refuses them or is no terminal.
bool ApplyLineSettings(int fd, const SLineSettings& s);
// The settings in force; the rate is the one the device took.
bool ReadLineSettings(int fd, SLineSettings& s);
// Changes only the read minimum (VMIN, with VTIME 0), without draining or flushing the queues.
bool SetReadMinimum(int fd, uint8_t bytes);

}  // namespace rv::posix
