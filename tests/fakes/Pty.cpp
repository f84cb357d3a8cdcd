// Pseudo-terminal pairs; termios2 here, so the rate reads back whatever it is.
#include "Pty.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <stdexcept>

namespace rv::test {

namespace {
std::mutex g_create;
}

Pty::Pty()
{
    std::lock_guard<std::mutex> lk(g_create);
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) throw std::runtime_error("posix_openpt failed");
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        close(master_);
        throw std::runtime_error("pseudo-terminal set-up failed");
    }
    slave_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() { CloseMaster(); }

void Pty::CloseMaster()
{
    if (master_ >= 0) close(master_);
    master_ = -1;
}

void Pty::Write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("write to the pseudo-terminal failed");
        } else {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

std::string Pty::Read(size_t count, int ms)
{
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[4096];
        const ssize_t n = read(master_, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0) out.append(buf, static_cast<size_t>(n));
        else if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    return out;
}

Pty::Settings Pty::ReadSettings() const
{
    // Terminal ioctls on the master act on the slave.
    struct termios2 t {};
    if (ioctl(master_, TCGETS2, &t) != 0) throw std::runtime_error("TCGETS2 failed");
    Settings s;
    s.rate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
        case CS5: s.byteSize = 5; break;
        case CS6: s.byteSize = 6; break;
        case CS7: s.byteSize = 7; break;
        default: s.byteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB)) s.parity = 'N';
    else if (t.c_cflag & CMSPAR) s.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
    else s.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    s.rtscts = t.c_cflag & CRTSCTS;
    s.ixon = t.c_iflag & IXON;
    s.ixoff = t.c_iflag & IXOFF;
    s.inpck = t.c_iflag & INPCK;
    s.raw = !(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) && !(t.c_oflag & OPOST) &&
            !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) && (t.c_cflag & CREAD) && (t.c_cflag & CLOCAL) &&
            t.c_cc[VMIN] == 0 && t.c_cc[VTIME] == 0;
    s.vstart = t.c_cc[VSTART];
    s.vstop = t.c_cc[VSTOP];
    s.vmin = t.c_cc[VMIN];
    return s;
}

}  // namespace rv::test
