// A terminal device through termios and poll. Settings termios cannot express (XON/XOFF limits,
// the DSR options, the error and event characters) are kept and read back as given.
#include "PosixSerialDevice.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <mutex>

#include "PosixTermios2.h"

namespace rv {

namespace {

thread_local int t_lastError = 0;

bool Fail()
{
    t_lastError = errno;
    return false;
}

bool Fail(int error)
{
    t_lastError = error;
    return false;
}

uint64_t MonotonicMs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// poll that survives signals and keeps to its time limit.
int PollFor(pollfd* fds, nfds_t n, uint32_t ms)
{
    const uint64_t end = MonotonicMs() + ms;
    for (;;) {
        const uint64_t now = MonotonicMs();
        const uint64_t left = end > now ? end - now : 0;
        const int r = poll(fds, n, static_cast<int>(std::min<uint64_t>(left, INT_MAX)));
        if (r >= 0 || errno != EINTR) return r;
    }
}

// The modem-line wait (TIOCMIWAIT) cannot be woken by closing the port; a signal without
// SA_RESTART ends it. Installed once, and only where nobody else handles that signal.
void NoteSignal(int) {}

int LineWatchSignal() { return SIGRTMIN + 4; }

bool InstallLineWatchSignal()
{
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] {
        struct sigaction old {};
        if (sigaction(LineWatchSignal(), nullptr, &old) != 0 || old.sa_handler != SIG_DFL) return;
        struct sigaction sa {};
        sa.sa_handler = NoteSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;
        installed = sigaction(LineWatchSignal(), &sa, nullptr) == 0;
    });
    return installed;
}

uint32_t LineEvents(int before, int after)
{
    uint32_t ev = 0;
    const int changed = before ^ after;
    if (changed & TIOCM_CTS) ev |= evCts;
    if (changed & TIOCM_DSR) ev |= evDsr;
    if (changed & TIOCM_CD) ev |= evRlsd;
    if (changed & TIOCM_RNG) ev |= evRing;
    return ev;
}

// The interval at which lines are sampled where the kernel cannot wait for a change.
constexpr uint32_t kLineSampleMs = 50;

}  // namespace

int PosixLastError() { return t_lastError; }
void SetPosixLastError(int error) { t_lastError = error; }

PosixSerialDevice::PosixSerialDevice(int fd, bool isTerminal) : fd_(fd), terminal_(isTerminal)
{
    kept_.Flags = dcbFBinary | (lineControlEnable << dcbFDtrControlShift) | (lineControlEnable << dcbFRtsControlShift);
    kept_.XonChar = 0x11;
    kept_.XoffChar = 0x13;
}

bool PosixSerialDevice::Init()
{
    cancelFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    linesFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    if (cancelFd_ < 0 || linesFd_ < 0 || epollFd_ < 0) return Fail();
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = cancelFd_;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, cancelFd_, &ev) != 0) return Fail();
    ev.data.fd = linesFd_;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, linesFd_, &ev) != 0) return Fail();
    // Edge-triggered: arriving bytes wake the wait once, so input that a handler leaves queued
    // does not wake it again and again.
    ev.events = EPOLLIN | EPOLLET;
    ev.data.fd = fd_;
    // A device that cannot be waited on (not a terminal) only fails its event wait.
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd_, &ev) != 0) failed_ = true;
    SCounters c;
    countersOk_ = terminal_ && ReadCounters(c);
    if (countersOk_) errorBase_ = eventBase_ = c;
    return true;
}

PosixSerialDevice::~PosixSerialDevice()
{
    Cancel();
    StopLineWatch();
    if (epollFd_ >= 0) close(epollFd_);
    if (linesFd_ >= 0) close(linesFd_);
    if (cancelFd_ >= 0) close(cancelFd_);
    // The exclusive mode outlives this descriptor on a pseudo-terminal whose other side stays open,
    // and a port keeps its settings for the next program: leave it reporting every byte.
    if (terminal_) ioctl(fd_, TIOCNXCL);
    if (terminal_ && readMinimum_ != 0) posix::SetReadMinimum(fd_, 0);
    close(fd_);
}

bool PosixSerialDevice::GetState(SDeviceControlBlock& dcb)
{
    std::lock_guard<std::mutex> lk(mu_);
    if (!terminal_) return Fail(ENOTTY);
    posix::SLineSettings s;
    if (!posix::ReadLineSettings(fd_, s)) return Fail();
    dcb = kept_;
    dcb.DCBlength = 28;
    dcb.BaudRate = s.Rate;
    dcb.ByteSize = static_cast<uint8_t>(s.ByteSize);
    dcb.Parity = static_cast<uint8_t>(s.Parity);
    // Termios has one "two stop bits" flag, used for 1.5 as well.
    dcb.StopBits = s.TwoStopBits ? (kept_.StopBits == 1 ? 1 : 2) : 0;
    auto put = [&](uint32_t bit, bool on) { dcb.Flags = on ? (dcb.Flags | bit) : (dcb.Flags & ~bit); };
    put(dcbFBinary, true);
    put(dcbFOutxCtsFlow, s.RtsCts);
    put(dcbFOutX, s.XonXoffOut);
    put(dcbFInX, s.XonXoffIn);
    put(dcbFParity, s.ParityCheck);
    dcb.XonChar = s.XonChar;
    dcb.XoffChar = s.XoffChar;
    return true;
}

bool PosixSerialDevice::SetState(const SDeviceControlBlock& dcb)
{
    std::lock_guard<std::mutex> lk(mu_);
    if (!terminal_) return Fail(ENOTTY);
    if (dcb.StopBits > 2) return Fail(EINVAL);
    posix::SLineSettings s;
    s.Rate = dcb.BaudRate;
    s.ByteSize = dcb.ByteSize;
    s.Parity = dcb.Parity;
    s.TwoStopBits = dcb.StopBits != 0;
    s.RtsCts = (dcb.Flags & dcbFOutxCtsFlow) != 0;
    s.XonXoffOut = (dcb.Flags & dcbFOutX) != 0;
    s.XonXoffIn = (dcb.Flags & dcbFInX) != 0;
    s.XonChar = dcb.XonChar;
    s.XoffChar = dcb.XoffChar;
    s.ParityCheck = (dcb.Flags & dcbFParity) != 0;
    s.ReadMinimum = WantedReadMinimum();
    if (!posix::ApplyLineSettings(fd_, s)) return Fail();
    readMinimum_ = s.ReadMinimum;

    // DTR and RTS follow their control mode when the mode changes, not on every apply, so a
    // change of rate leaves lines raised by hand alone. Lines a device lacks are simply absent.
    const uint32_t dtr = (dcb.Flags & dcbFDtrControlMask) >> dcbFDtrControlShift;
    const uint32_t rts = (dcb.Flags & dcbFRtsControlMask) >> dcbFRtsControlShift;
    const uint32_t oldDtr = (kept_.Flags & dcbFDtrControlMask) >> dcbFDtrControlShift;
    const uint32_t oldRts = (kept_.Flags & dcbFRtsControlMask) >> dcbFRtsControlShift;
    auto line = [&](int bit, bool on) { ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit); };
    if ((!applied_ || dtr != oldDtr) && dtr <= lineControlEnable) line(TIOCM_DTR, dtr == lineControlEnable);
    if ((!applied_ || rts != oldRts) && rts <= lineControlEnable) line(TIOCM_RTS, rts == lineControlEnable);
    kept_ = dcb;
    applied_ = true;
    return true;
}

bool PosixSerialDevice::SetupQueues(uint32_t inSize, uint32_t outSize)
{
    std::lock_guard<std::mutex> lk(mu_);
    rxQueue_ = inSize;
    txQueue_ = outSize;
    return true;
}

bool PosixSerialDevice::SetTimeouts(const SCommTimeouts& timeouts)
{
    std::lock_guard<std::mutex> lk(mu_);
    timeouts_ = timeouts;
    return true;
}

bool PosixSerialDevice::GetTimeouts(SCommTimeouts& timeouts)
{
    std::lock_guard<std::mutex> lk(mu_);
    timeouts = timeouts_;
    return true;
}

bool PosixSerialDevice::Purge(uint32_t flags)
{
    std::lock_guard<std::mutex> lk(mu_);
    if (!terminal_) return Fail(ENOTTY);
    // Nothing is ever pending in non-blocking mode, so the abort flags have nothing to abort.
    if (flags & purgeRxClear) {
        pushback_ = -1;
        if (tcflush(fd_, TCIFLUSH) != 0) return Fail();
    }
    if ((flags & purgeTxClear) && tcflush(fd_, TCOFLUSH) != 0) return Fail();
    return true;
}

bool PosixSerialDevice::ReadCounters(SCounters& c) const
{
    serial_icounter_struct k{};
    if (ioctl(fd_, TIOCGICOUNT, &k) != 0) return false;
    c.cts = k.cts;
    c.dsr = k.dsr;
    c.rng = k.rng;
    c.dcd = k.dcd;
    c.frame = k.frame;
    c.overrun = k.overrun;
    c.parity = k.parity;
    c.brk = k.brk;
    c.bufOverrun = k.buf_overrun;
    return true;
}

bool PosixSerialDevice::InputCount(uint32_t& count)
{
    int n = 0;
    if (ioctl(fd_, FIONREAD, &n) != 0) return Fail();
    count = static_cast<uint32_t>(std::max(n, 0)) + (pushback_ >= 0 ? 1u : 0u);
    return true;
}

bool PosixSerialDevice::ClearError(uint32_t& errors, SCommStat& stat)
{
    std::lock_guard<std::mutex> lk(mu_);
    errors = 0;
    stat = SCommStat{};
    if (!InputCount(stat.InQue)) return false;
    int out = 0;
    if (ioctl(fd_, TIOCOUTQ, &out) != 0) return Fail();
    stat.OutQue = static_cast<uint32_t>(std::max(out, 0));
    SCounters c;
    if (countersOk_ && ReadCounters(c)) {
        if (c.frame != errorBase_.frame) errors |= ceFrame;
        if (c.overrun != errorBase_.overrun) errors |= ceOverrun;
        if (c.parity != errorBase_.parity) errors |= ceRxParity;
        if (c.brk != errorBase_.brk) errors |= ceBreak;
        if (c.bufOverrun != errorBase_.bufOverrun) errors |= ceRxOver;
        errorBase_ = c;
    }
    int lines = 0;
    if ((kept_.Flags & dcbFOutxCtsFlow) && ioctl(fd_, TIOCMGET, &lines) == 0 && !(lines & TIOCM_CTS))
        stat.Flags |= 1u;  // output held for CTS
    return true;
}

bool PosixSerialDevice::GetProperties(SCommProp& prop)
{
    std::lock_guard<std::mutex> lk(mu_);
    if (!terminal_) return Fail(ENOTTY);
    prop.MaxBaud = baudUser;  // any rate goes through BOTHER
    prop.CurrentRxQueue = rxQueue_;
    prop.CurrentTxQueue = txQueue_;
    return true;
}

bool PosixSerialDevice::Escape(uint32_t function)
{
    int bit = 0;
    int r = -1;
    switch (function) {
        case escSetXoff: r = tcflow(fd_, TCOOFF); break;
        case escSetXon: r = tcflow(fd_, TCOON); break;
        case escSetRts: bit = TIOCM_RTS; r = ioctl(fd_, TIOCMBIS, &bit); break;
        case escClrRts: bit = TIOCM_RTS; r = ioctl(fd_, TIOCMBIC, &bit); break;
        case escSetDtr: bit = TIOCM_DTR; r = ioctl(fd_, TIOCMBIS, &bit); break;
        case escClrDtr: bit = TIOCM_DTR; r = ioctl(fd_, TIOCMBIC, &bit); break;
        case escSetBreak: r = ioctl(fd_, TIOCSBRK); break;
        case escClrBreak: r = ioctl(fd_, TIOCCBRK); break;
        default: return Fail(EINVAL);
    }
    return r == 0 || Fail();
}

bool PosixSerialDevice::GetModemStatus(uint32_t& status)
{
    int lines = 0;
    status = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) return Fail();
    if (lines & TIOCM_CTS) status |= msCtsOn;
    if (lines & TIOCM_DSR) status |= msDsrOn;
    if (lines & TIOCM_RNG) status |= msRingOn;
    if (lines & TIOCM_CD) status |= msRlsdOn;
    return true;
}

int64_t PosixSerialDevice::Read(void* buffer, uint32_t count)
{
    if (count == 0) return 0;
    auto* p = static_cast<uint8_t*>(buffer);
    uint32_t got = 0;
    // Held across the read: the event wait's one-byte read must not slip between the byte it
    // keeps and the bytes read here, or the order of the input would change.
    std::lock_guard<std::mutex> lk(mu_);
    if (pushback_ >= 0) {
        p[got++] = static_cast<uint8_t>(pushback_);
        pushback_ = -1;
    }
    if (got == count) return got;
    for (;;) {
        // In raw mode with no minimum an empty queue reads 0 bytes rather than EAGAIN.
        const ssize_t n = read(fd_, p + got, count - got);
        if (n >= 0) return got + n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || got > 0) return got;
        Fail();
        return -1;
    }
}

int64_t PosixSerialDevice::Write(const void* buffer, uint32_t count)
{
    if (count == 0) return 0;
    for (;;) {
        const ssize_t n = write(fd_, buffer, count);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        Fail();
        return -1;
    }
}

TWaitResult PosixSerialDevice::PollDevice(short events, uint32_t ms)
{
    const uint64_t end = MonotonicMs() + ms;
    for (;;) {
        if (cancelled_) return TWaitResult::Cancelled;
        const uint64_t now = MonotonicMs();
        pollfd fds[2] = {{fd_, events, 0}, {cancelFd_, POLLIN, 0}};
        const int r = PollFor(fds, 2, static_cast<uint32_t>(end > now ? end - now : 0));
        if (r < 0) {
            Fail();
            return TWaitResult::Failed;
        }
        if (fds[1].revents) return TWaitResult::Cancelled;
        if (r == 0) return TWaitResult::TimedOut;
        const short got = fds[0].revents;
        if ((events & POLLIN) && (got & POLLIN)) {
            // Readable with nothing to read is how a hung-up line shows itself, unless another
            // reader took the bytes first.
            std::lock_guard<std::mutex> lk(mu_);
            uint32_t n = 0;
            if (!InputCount(n)) return TWaitResult::Failed;
            if (n > 0) return TWaitResult::Ready;
            if (!(got & (POLLHUP | POLLERR | POLLNVAL))) {
                const TEmptyWake w = RecheckEmpty(n);
                if (w == TEmptyWake::Drained) continue;
                if (w == TEmptyWake::Data) return TWaitResult::Ready;
            }
        } else if ((events & POLLOUT) && (got & POLLOUT) && !(got & (POLLHUP | POLLERR | POLLNVAL))) {
            return TWaitResult::Ready;
        }
        Fail(EIO);
        return TWaitResult::Failed;
    }
}

PosixSerialDevice::TEmptyWake PosixSerialDevice::RecheckEmpty(uint32_t& count)
{
    pollfd p{fd_, POLLIN, 0};
    const int r = poll(&p, 1, 0);
    if (r == 0) return TEmptyWake::Drained;
    if (r < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) || !InputCount(count) || count == 0)
        return TEmptyWake::Gone;
    return TEmptyWake::Data;
}

TWaitResult PosixSerialDevice::WaitReadable(uint32_t ms)
{
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (pushback_ >= 0) return TWaitResult::Ready;
        // Waits for any byte: the receive threshold must not hold this poll back.
        ++readWaiters_;
        ApplyReadMinimum();
    }
    const TWaitResult r = PollDevice(POLLIN, ms);
    std::lock_guard<std::mutex> lk(mu_);
    --readWaiters_;
    ApplyReadMinimum();
    return r;
}

TWaitResult PosixSerialDevice::WaitWritable(uint32_t ms) { return PollDevice(POLLOUT, ms); }

TWaitResult PosixSerialDevice::Pause(uint32_t ms) { return PollDevice(0, ms); }

bool PosixSerialDevice::SetEventMask(uint32_t mask)
{
    mask_ = mask;
    if (mask & (evCts | evDsr | evRlsd | evRing)) StartLineWatch();
    return true;
}

bool PosixSerialDevice::TakeInputEvent(uint32_t& events, bool hungUp)
{
    std::lock_guard<std::mutex> lk(mu_);
    uint32_t n = 0;
    if (!InputCount(n)) return false;
    if (n == 0 && !hungUp) {
        // Readable but empty: tell a spurious wake-up from a vanished device by reading one
        // byte, kept to be given out first.
        uint8_t b = 0;
        const ssize_t r = read(fd_, &b, 1);
        if (r == 1) {
            pushback_ = b;
            n = 1;
        } else if (r == 0) {
            const TEmptyWake w = RecheckEmpty(n);
            if (w == TEmptyWake::Drained) return true;  // another reader was first: nothing happened
            if (w == TEmptyWake::Gone) return Fail(EIO);
        } else if (errno != EAGAIN) {
            return Fail();
        }
    }
    if (n > 0) events |= evRxChar;
    SCounters c;
    if (n > 0 && countersOk_ && ReadCounters(c)) {
        if (c.brk != eventBase_.brk) events |= evBreak;
        if (c.frame != eventBase_.frame || c.overrun != eventBase_.overrun || c.parity != eventBase_.parity ||
            c.bufOverrun != eventBase_.bufOverrun)
            events |= evErr;
        eventBase_ = c;
    }
    // Bytes that came before the hang-up are still handed out; the failure follows on the next wait.
    if (hungUp) {
        failed_ = true;
        if (n == 0) return Fail(EIO);
    }
    return true;
}

TWaitResult PosixSerialDevice::WaitEvent(uint32_t& events)
{
    events = 0;
    for (;;) {
        if (cancelled_) return TWaitResult::Cancelled;
        if (failed_) {
            Fail(EIO);
            return TWaitResult::Failed;
        }
        epoll_event evs[3];
        const int n = epoll_wait(epollFd_, evs, 3, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail();
            failed_ = true;
            return TWaitResult::Failed;
        }
        uint32_t got = 0;
        bool gone = false;
        for (int i = 0; i < n; ++i) {
            if (evs[i].data.fd == cancelFd_) return TWaitResult::Cancelled;
            if (evs[i].data.fd == linesFd_) {
                uint64_t v = 0;
                [[maybe_unused]] const ssize_t r = read(linesFd_, &v, sizeof v);
                got |= pendingLines_.exchange(0);
            } else if (evs[i].data.fd == fd_) {
                const bool hungUp = (evs[i].events & (EPOLLHUP | EPOLLERR)) != 0;
                if (!TakeInputEvent(got, hungUp)) gone = true;
            }
        }
        if (gone) {
            failed_ = true;
            return TWaitResult::Failed;
        }
        got &= mask_.load();
        if (got) {
            events = got;
            return TWaitResult::Ready;
        }
    }
}

uint8_t PosixSerialDevice::WantedReadMinimum() const
{
    return readWaiters_ > 0 || threshold_ <= 1 ? 0 : static_cast<uint8_t>(threshold_);
}

bool PosixSerialDevice::ApplyReadMinimum()
{
    const uint8_t want = WantedReadMinimum();
    if (want == readMinimum_) return true;
    if (!terminal_) return Fail(ENOTTY);
    if (!posix::SetReadMinimum(fd_, want)) return Fail();
    readMinimum_ = want;
    return true;
}

bool PosixSerialDevice::SetReceiveThreshold(uint32_t bytes)
{
    std::lock_guard<std::mutex> lk(mu_);
    threshold_ = std::clamp<uint32_t>(bytes, 1, 255);
    return ApplyReadMinimum();
}

void PosixSerialDevice::Cancel()
{
    cancelled_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = write(cancelFd_, &one, sizeof one);
}

void PosixSerialDevice::ReportLines(uint32_t events)
{
    if (!events) return;
    pendingLines_ |= events;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = write(linesFd_, &one, sizeof one);
}

void PosixSerialDevice::StartLineWatch()
{
    if (!terminal_ || watcher_.joinable()) return;
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) return;  // no modem lines (a pseudo-terminal): nothing to watch
    const TLineWatch mode = countersOk_ && InstallLineWatchSignal() ? TLineWatch::Wait : TLineWatch::Sample;
    watchSignal_ = mode == TLineWatch::Wait;
    watcher_ = std::thread([this, mode] { WatchLines(mode); });
}

void PosixSerialDevice::StopLineWatch()
{
    if (!watcher_.joinable()) return;
    std::unique_lock<std::mutex> lk(watchMu_);
    watchStop_ = true;
    watchCv_.notify_all();
    // A watcher blocked in the kernel's line wait needs the signal; it may enter the wait just
    // after one, so repeat until it has ended.
    while (!watchEnded_) {
        if (watchSignal_) pthread_kill(watcher_.native_handle(), LineWatchSignal());
        watchCv_.wait_for(lk, std::chrono::milliseconds(20), [&] { return watchEnded_; });
    }
    lk.unlock();
    watcher_.join();
}

void PosixSerialDevice::WatchLines(TLineWatch mode)
{
    auto stopping = [&] {
        std::lock_guard<std::mutex> lk(watchMu_);
        return watchStop_;
    };
    if (mode == TLineWatch::Wait) {
        // Counters, not line levels: an edge that comes and goes during one wait is still seen.
        SCounters before;
        if (!ReadCounters(before)) mode = TLineWatch::Sample;
        while (mode == TLineWatch::Wait && !stopping()) {
            if (ioctl(fd_, TIOCMIWAIT, TIOCM_RNG | TIOCM_DSR | TIOCM_CD | TIOCM_CTS) != 0) {
                if (errno == EINTR) continue;
                if (errno == EIO || errno == ENODEV) break;  // gone: the event wait reports it
                mode = TLineWatch::Sample;                   // the driver cannot wait for lines
                break;
            }
            SCounters now;
            if (!ReadCounters(now)) break;
            uint32_t ev = 0;
            if (now.cts != before.cts) ev |= evCts;
            if (now.dsr != before.dsr) ev |= evDsr;
            if (now.dcd != before.dcd) ev |= evRlsd;
            if (now.rng != before.rng) ev |= evRing;
            before = now;
            ReportLines(ev);
        }
    }
    if (mode == TLineWatch::Sample) {
        int lines = 0;
        bool ok = ioctl(fd_, TIOCMGET, &lines) == 0;
        std::unique_lock<std::mutex> lk(watchMu_);
        while (ok && !watchStop_) {
            if (watchCv_.wait_for(lk, std::chrono::milliseconds(kLineSampleMs), [&] { return watchStop_; })) break;
            int now = 0;
            ok = ioctl(fd_, TIOCMGET, &now) == 0;
            if (ok) {
                const uint32_t ev = LineEvents(lines, now);
                lines = now;
                lk.unlock();
                ReportLines(ev);
                lk.lock();
            }
        }
    }
    std::lock_guard<std::mutex> lk(watchMu_);
    watchEnded_ = true;
    watchCv_.notify_all();
}

}  // namespace rv
