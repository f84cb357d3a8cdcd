// termios2: raw mode, character format, flow control and the rate in bit/s through BOTHER.
#include "PosixTermios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace rv::posix {

namespace {

// Rates of the classic speed codes, for a line that someone else left on one of them.
struct SSpeedCode {
    tcflag_t code;
    uint32_t rate;
};
const SSpeedCode kSpeedCodes[] = {
    {B50, 50},         {B75, 75},         {B110, 110},         {B134, 134},         {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},         {B1200, 1200},       {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000},
    {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
};

}  // namespace

bool ApplyLineSettings(int fd, const SLineSettings& s)
{
    tcflag_t size = 0;
    switch (s.ByteSize) {
        case 5: size = CS5; break;
        case 6: size = CS6; break;
        case 7: size = CS7; break;
        case 8: size = CS8; break;
        default: errno = EINVAL; return false;
    }
    if (s.Parity < 0 || s.Parity > 4 || s.Rate == 0) {
        errno = EINVAL;
        return false;
    }
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;

    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    if (s.XonXoffOut) t.c_iflag |= IXON;
    if (s.XonXoffIn) t.c_iflag |= IXOFF;
    if (s.ParityCheck) t.c_iflag |= INPCK;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN | ECHOE | ECHOK);

    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | CIBAUD);
    t.c_cflag |= size | CLOCAL | CREAD | BOTHER;
    switch (s.Parity) {
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case 4: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
    }
    if (s.TwoStopBits) t.c_cflag |= CSTOPB;
    if (s.RtsCts) t.c_cflag |= CRTSCTS;
    // CIBAUD cleared: the input rate follows the output rate.
    t.c_ispeed = s.Rate;
    t.c_ospeed = s.Rate;

    t.c_cc[VMIN] = s.ReadMinimum;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = s.XonChar;
    t.c_cc[VSTOP] = s.XoffChar;
    return ioctl(fd, TCSETS2, &t) == 0;
}

bool ReadLineSettings(int fd, SLineSettings& s)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    const tcflag_t code = t.c_cflag & CBAUD;
    if (code == BOTHER) {
        s.Rate = t.c_ospeed;
    } else {
        s.Rate = 0;
        for (const auto& c : kSpeedCodes)
            if (c.code == code) s.Rate = c.rate;
    }
    switch (t.c_cflag & CSIZE) {
        case CS5: s.ByteSize = 5; break;
        case CS6: s.ByteSize = 6; break;
        case CS7: s.ByteSize = 7; break;
        default: s.ByteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB)) s.Parity = 0;
    else if (t.c_cflag & CMSPAR) s.Parity = (t.c_cflag & PARODD) ? 3 : 4;
    else s.Parity = (t.c_cflag & PARODD) ? 1 : 2;
    s.TwoStopBits = (t.c_cflag & CSTOPB) != 0;
    s.RtsCts = (t.c_cflag & CRTSCTS) != 0;
    s.XonXoffOut = (t.c_iflag & IXON) != 0;
    s.XonXoffIn = (t.c_iflag & IXOFF) != 0;
    s.ParityCheck = (t.c_iflag & INPCK) != 0;
    s.XonChar = t.c_cc[VSTART];
    s.XoffChar = t.c_cc[VSTOP];
    s.ReadMinimum = t.c_cc[VMIN];
    return true;
}

bool SetReadMinimum(int fd, uint8_t bytes)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cc[VMIN] = bytes;
    t.c_cc[VTIME] = 0;
    // TCSETS2 applies at once: TCSETSW2 would wait for output to drain, TCSETSF2 would drop input.
    return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace rv::posix
