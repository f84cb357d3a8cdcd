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
#include <cstring>
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

// The most bytes the event wait takes from the kernel before a reader has made room.
constexpr size_t kHeldCapacity = 65536;

// ppoll with a time limit in nanoseconds (-1: none), surviving signals only by returning them.
int PollNs(pollfd* fds, nfds_t n, int64_t ns)
{
    if (ns < 0) return poll(fds, n, -1);
    timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    return ppoll(fds, n, &ts, nullptr);
}

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
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    heldFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancelFd_ < 0 || wakeFd_ < 0 || heldFd_ < 0) return Fail();
    // A device that cannot be waited on (a plain file, always "readable") only fails its event wait.
    const int probe = epoll_create1(EPOLL_CLOEXEC);
    if (probe < 0) return Fail();
    epoll_event ev{};
    ev.events = EPOLLIN;
    if (epoll_ctl(probe, EPOLL_CTL_ADD, fd_, &ev) != 0) failed_ = true;
    close(probe);
    // Input is counted here, not by the line discipline: a read minimum another program left
    // would hold back the port's readiness.
    posix::SLineSettings now;
    if (terminal_ && posix::ReadLineSettings(fd_, now) && now.ReadMinimum != 0) posix::SetReadMinimum(fd_, 0);
    SCounters c;
    countersOk_ = terminal_ && ReadCounters(c);
    if (countersOk_) errorBase_ = eventBase_ = c;
    return true;
}

PosixSerialDevice::~PosixSerialDevice()
{
    Cancel();
    StopLineWatch();
    if (heldFd_ >= 0) close(heldFd_);
    if (wakeFd_ >= 0) close(wakeFd_);
    if (cancelFd_ >= 0) close(cancelFd_);
    // The exclusive mode outlives this descriptor on a pseudo-terminal whose other side stays open.
    if (terminal_) ioctl(fd_, TIOCNXCL);
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
    s.ReadMinimum = 0;
    if (!posix::ApplyLineSettings(fd_, s)) return Fail();

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
    // Start bit, data bits, parity bit and stop bits (1.5 counted as 2) at the rate.
    const uint64_t bits = 1u + std::clamp<uint32_t>(dcb.ByteSize, 5, 8) + (dcb.Parity != 0 ? 1u : 0u) +
                          (dcb.StopBits == 0 ? 1u : 2u);
    byteNs_ = dcb.BaudRate > 0 ? bits * 1'000'000'000ull / dcb.BaudRate : 0;
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
        const bool wasFull = HeldCount() >= kHeldCapacity;
        heldBegin_ = heldEnd_ = 0;
        if (wasFull) Signal(wakeFd_);
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
    count = static_cast<uint32_t>(std::max(n, 0)) + HeldCount();
    return true;
}

bool PosixSerialDevice::PullInput(uint32_t& pulled)
{
    pulled = 0;
    if (!held_) held_ = std::make_unique<uint8_t[]>(kHeldCapacity);
    if (heldBegin_ == heldEnd_) heldBegin_ = heldEnd_ = 0;
    for (;;) {
        if (heldEnd_ == kHeldCapacity && heldBegin_ > 0) {
            std::memmove(held_.get(), held_.get() + heldBegin_, heldEnd_ - heldBegin_);
            heldEnd_ -= heldBegin_;
            heldBegin_ = 0;
        }
        const size_t room = kHeldCapacity - heldEnd_;
        if (room == 0) return true;
        // In raw mode with no read minimum an empty queue reads 0 bytes; a pseudo-terminal whose
        // other side has gone fails with EIO once it is empty.
        const ssize_t n = read(fd_, held_.get() + heldEnd_, room);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) return true;
            return Fail();
        }
        heldEnd_ += static_cast<size_t>(n);
        pulled += static_cast<uint32_t>(n);
        arrived_ += static_cast<uint64_t>(n);
        if (static_cast<size_t>(n) < room) return true;
    }
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
    // Held across the read: the event wait must not take bytes between the held ones given out
    // and the bytes read here, or the order of the input would change.
    std::lock_guard<std::mutex> lk(mu_);
    if (const uint32_t held = HeldCount(); held > 0) {
        got = std::min(held, count);
        std::copy_n(held_.get() + heldBegin_, got, p);
        heldBegin_ += got;
        if (held >= kHeldCapacity) Signal(wakeFd_);  // the event wait may take input again
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
        // A reader also hears of bytes the event wait took in meanwhile.
        pollfd fds[3] = {{fd_, events, 0}, {cancelFd_, POLLIN, 0}, {heldFd_, POLLIN, 0}};
        const int r = PollFor(fds, (events & POLLIN) ? 3 : 2, static_cast<uint32_t>(end > now ? end - now : 0));
        if (r < 0) {
            Fail();
            return TWaitResult::Failed;
        }
        if (fds[1].revents) return TWaitResult::Cancelled;
        if (r == 0) return TWaitResult::TimedOut;
        if (fds[2].revents) {
            Drain(heldFd_);
            std::lock_guard<std::mutex> lk(mu_);
            if (HeldCount() > 0) return TWaitResult::Ready;
            if (!fds[0].revents) continue;
        }
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
        if (HeldCount() > 0) return TWaitResult::Ready;
        ++readWaiters_;
    }
    const TWaitResult r = PollDevice(POLLIN, ms);
    std::lock_guard<std::mutex> lk(mu_);
    --readWaiters_;
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

uint32_t PosixSerialDevice::LineErrorEvents()
{
    uint32_t events = 0;
    SCounters c;
    if (countersOk_ && ReadCounters(c)) {
        if (c.brk != eventBase_.brk) events |= evBreak;
        if (c.frame != eventBase_.frame || c.overrun != eventBase_.overrun || c.parity != eventBase_.parity ||
            c.bufOverrun != eventBase_.bufOverrun)
            events |= evErr;
        eventBase_ = c;
    }
    return events;
}

// At a slow rate a packet trickles in a character at a time, and a wait on the port would be woken
// by every one of them. Once some of it is in, the rest cannot come sooner than its line time: the
// wait sleeps through that without the port and then takes what came, and waits on the port again
// only when the line is slower than its settings or one byte is missing. Nothing can be missed:
// the kernel keeps what arrives meanwhile, and a wait on the port sees it at once.
bool PosixSerialDevice::PlanInput(uint32_t& events, bool portReadable, bool slept, SInputPlan& plan)
{
    plan = SInputPlan{};
    uint32_t pulled = 0;
    if (!PullInput(pulled)) return false;
    if (portReadable && pulled == 0 && HeldCount() < kHeldCapacity) {
        // Readable with nothing to read is how a hung-up line shows itself, unless another reader
        // took the bytes first (then the port is no longer readable).
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, 0);
        if (r < 0) return Fail();
        if (r > 0 && (!PullInput(pulled) || pulled == 0)) return Fail(EIO);
    }
    if (pulled > 0 && readWaiters_ > 0) Signal(heldFd_);
    const uint32_t held = HeldCount();
    const bool fresh = arrived_ != reported_;
    if (fresh && held > 0 && held >= threshold_) {
        reported_ = arrived_;
        events |= evRxChar | LineErrorEvents();
        return true;
    }
    if (held >= kHeldCapacity) {
        plan.watchPort = false;  // until a reader makes room
        return true;
    }
    // Part of a packet: sleep through the line time of the rest while the line keeps its pace.
    if (fresh && held > 0 && byteNs_ > 0 && (pulled > 0 || !slept) && threshold_ - held > 1) {
        plan.watchPort = false;
        plan.sleepNs = static_cast<int64_t>(std::min<uint64_t>((threshold_ - held) * byteNs_, 1'000'000'000ull));
    }
    return true;
}

void PosixSerialDevice::TakeLastInput(uint32_t& events)
{
    failed_ = true;
    if (arrived_ != reported_ && HeldCount() > 0) {
        reported_ = arrived_;
        events |= evRxChar | LineErrorEvents();
    }
}

TWaitResult PosixSerialDevice::WaitEvent(uint32_t& events)
{
    events = 0;
    uint32_t got = 0;
    bool portReadable = false;
    bool slept = false;
    for (;;) {
        if (cancelled_) return TWaitResult::Cancelled;
        if (failed_) {
            Fail(EIO);
            return TWaitResult::Failed;
        }
        SInputPlan plan;
        {
            std::lock_guard<std::mutex> lk(mu_);
            eventWaiting_ = false;
            if (!PlanInput(got, portReadable, slept, plan)) {
                TakeLastInput(got);
                if (!(got & mask_.load())) return TWaitResult::Failed;
            }
            eventWaiting_ = (got & mask_.load()) == 0;
        }
        got &= mask_.load();
        if (got) {
            events = got;
            return TWaitResult::Ready;
        }
        pollfd fds[3] = {{cancelFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
        const int n = PollNs(fds, plan.watchPort ? 3 : 2, plan.sleepNs);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail();
            failed_ = true;
            return TWaitResult::Failed;
        }
        if (fds[0].revents) return TWaitResult::Cancelled;
        if (fds[1].revents) {
            Drain(wakeFd_);
            got |= pendingLines_.exchange(0);
        }
        const short port = plan.watchPort ? fds[2].revents : 0;
        if (port & (POLLHUP | POLLERR | POLLNVAL)) {
            std::lock_guard<std::mutex> lk(mu_);
            uint32_t pulled = 0;
            PullInput(pulled);
            TakeLastInput(got);
            Fail(EIO);
            events = got & mask_.load();
            return events ? TWaitResult::Ready : TWaitResult::Failed;
        }
        portReadable = (port & POLLIN) != 0;
        slept = plan.sleepNs >= 0 && n == 0;
    }
}

bool PosixSerialDevice::SetReceiveThreshold(uint32_t bytes)
{
    std::lock_guard<std::mutex> lk(mu_);
    const uint32_t value = std::clamp<uint32_t>(bytes, 1, 255);
    if (value == threshold_) return true;
    threshold_ = value;
    // A waiting event wait with part of a packet plans anew for the new length; without one it
    // waits for the port's next byte either way.
    if (eventWaiting_ && HeldCount() > 0) Signal(wakeFd_);
    return true;
}

void PosixSerialDevice::Signal(int eventFd)
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = write(eventFd, &one, sizeof one);
}

void PosixSerialDevice::Drain(int eventFd)
{
    uint64_t v = 0;
    [[maybe_unused]] const ssize_t r = read(eventFd, &v, sizeof v);
}

void PosixSerialDevice::Cancel()
{
    cancelled_ = true;
    Signal(cancelFd_);
}

void PosixSerialDevice::ReportLines(uint32_t events)
{
    if (!events) return;
    pendingLines_ |= events;
    Signal(wakeFd_);
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
