// The pseudo-terminal front end: bytes read from the master are put on a modelled two-wire line in
// microseconds, the meter takes them when they are in, and what reaches the PC (echo and answers) is
// written to the master when it is due. The server thread waits in ppoll on the master, a stop event
// and the next due byte; it is a stand-in for a device, so it keeps real time of its own.
#include "sim/PtyMeterServer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <queue>
#include <stdexcept>
#include <thread>

#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace rv::sim {

namespace {

// Creating pseudo-terminals is not thread-safe.
std::mutex g_createPty;

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string s;
    s.reserve(bytes.size() * 3);
    char b[4];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, " %02X", v);
        s += b;
    }
    return s;
}

std::string FaultText(const FaultApplied& f, bool answered)
{
    std::string s;
    auto add = [&](const std::string& t) { s += (s.empty() ? "" : ",") + t; };
    if (f.dropped) add("drop");
    if (f.badChecksum) add("crc");
    if (f.garbageBytes > 0) add("garbage" + std::to_string(f.garbageBytes));
    if (f.delayMs > 0) add("late" + std::to_string(f.delayMs));
    if (f.resizedBy != 0) add("resized" + std::to_string(f.resizedBy));
    if (s.empty() && !answered) add("silent");
    return s.empty() ? "-" : s;
}

}  // namespace

struct PtyMeterServer::Impl {
    struct Byte {
        uint64_t dueUs;
        uint64_t seq;
        bool toMeter;
        uint8_t value;
        int64_t completes;  // the exchange whose answer this byte ends, or -1
        bool operator>(const Byte& o) const { return dueUs != o.dueUs ? dueUs > o.dueUs : seq > o.seq; }
    };
    struct Out {
        uint8_t value;
        int64_t completes;
    };

    std::unique_ptr<SimMeter> meter;
    PtyMeterOptions options;
    bool echo = true;
    uint32_t turnaroundUs = 0;
    int master = -1;
    int slave = -1;  // held open, so the master never sees a hang-up between clients
    int stopFd = -1;
    std::string slavePath;
    FILE* log = nullptr;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    std::mutex meterMu;
    mutable std::mutex statsMu;
    uint64_t exchanges = 0;
    double lineTimeMs = 0;

    // Server thread only.
    std::priority_queue<Byte, std::vector<Byte>, std::greater<>> wire;
    uint64_t seq = 0;
    uint64_t pcFreeUs = 0;
    uint64_t meterFreeUs = 0;
    std::deque<Out> out;
    std::vector<uint8_t> request;
    uint64_t firstRequestUs = 0;
    int64_t nextId = 0;
    std::map<int64_t, PtyExchange> inFlight;
    std::thread thread;

    uint64_t NowUs() const
    {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
    }

    uint64_t ByteEnd(uint64_t blockStart, size_t k) const
    {
        return options.baud ? blockStart + (uint64_t{k + 1} * 10'000'000ULL) / options.baud : blockStart;
    }

    void Push(uint64_t due, bool toMeter, uint8_t value, int64_t completes = -1)
    {
        wire.push({due, seq++, toMeter, value, completes});
    }

    // Bytes the PC wrote, read from the master at nowUs.
    void FromPc(const uint8_t* data, size_t n, uint64_t nowUs)
    {
        if (request.empty()) firstRequestUs = nowUs;
        const uint64_t blockStart = std::max(nowUs, pcFreeUs);
        for (size_t k = 0; k < n; ++k) {
            const uint64_t end = ByteEnd(blockStart, k);
            Push(end, true, data[k]);
            if (echo) Push(end, false, data[k]);
        }
        pcFreeUs = ByteEnd(blockStart, n - 1);
    }

    void ToMeter(const Byte& b)
    {
        request.push_back(b.value);
        std::lock_guard<std::mutex> lk(meterMu);
        meter->Receive(&b.value, 1, [&](const std::vector<uint8_t>& answer, const FaultApplied& fault) {
            PtyExchange e;
            e.timeUs = b.dueUs;
            e.request.swap(request);
            e.answer = answer;
            e.fault = fault;
            e.firstRequestUs = firstRequestUs;
            if (answer.empty()) {
                Complete(std::move(e));
                return;
            }
            const int64_t id = nextId++;
            const uint64_t ready = b.dueUs + turnaroundUs + uint64_t{fault.delayMs} * 1000;
            const uint64_t blockStart = std::max(ready, meterFreeUs);
            for (size_t k = 0; k < answer.size(); ++k)
                Push(ByteEnd(blockStart, k), false, answer[k], k + 1 == answer.size() ? id : -1);
            meterFreeUs = ByteEnd(blockStart, answer.size() - 1);
            inFlight.emplace(id, std::move(e));
        });
    }

    void Complete(PtyExchange e)
    {
        {
            std::lock_guard<std::mutex> lk(statsMu);
            ++exchanges;
            const double bytes = static_cast<double>(e.request.size() + e.answer.size());
            if (options.baud) lineTimeMs += bytes * 10.0 * 1000.0 / options.baud;
            if (!e.answer.empty()) lineTimeMs += turnaroundUs / 1000.0;
        }
        if (log) {
            const std::string line = FormatExchange(e) + "\n";
            std::fputs(line.c_str(), log);
            std::fflush(log);
        }
        if (options.onExchange) options.onExchange(e);
    }

    void Advance(uint64_t nowUs)
    {
        while (!wire.empty() && wire.top().dueUs <= nowUs) {
            const Byte b = wire.top();
            wire.pop();
            if (b.toMeter)
                ToMeter(b);
            else
                out.push_back({b.value, b.completes});
        }
    }

    // Writes what is due; a full master keeps the rest for the next POLLOUT.
    void Flush()
    {
        while (!out.empty()) {
            uint8_t buf[4096];
            size_t n = 0;
            for (; n < out.size() && n < sizeof buf; ++n) buf[n] = out[n].value;
            const ssize_t w = write(master, buf, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                return;  // EAGAIN: the client does not read; EIO: no client. Try again later.
            }
            const uint64_t now = NowUs();
            for (ssize_t i = 0; i < w; ++i) {
                const Out o = out.front();
                out.pop_front();
                if (o.completes < 0) continue;
                auto it = inFlight.find(o.completes);
                if (it == inFlight.end()) continue;
                PtyExchange e = std::move(it->second);
                inFlight.erase(it);
                e.lastAnswerUs = now;
                Complete(std::move(e));
            }
        }
    }

    void Run()
    {
        uint8_t buf[4096];
        for (;;) {
            const uint64_t now = NowUs();
            Advance(now);
            Flush();
            pollfd fds[2] = {{master, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0},
                             {stopFd, POLLIN, 0}};
            timespec ts{};
            timespec* timeout = nullptr;
            if (!wire.empty()) {
                const uint64_t due = wire.top().dueUs;
                const uint64_t wait = due > now ? due - now : 0;
                ts.tv_sec = static_cast<time_t>(wait / 1'000'000);
                ts.tv_nsec = static_cast<long>((wait % 1'000'000) * 1000);
                timeout = &ts;
            }
            const int r = ppoll(fds, 2, timeout, nullptr);
            if (r < 0 && errno != EINTR) return;
            if (fds[1].revents) return;
            if (r > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = read(master, buf, sizeof buf);
                if (n > 0) {
                    FromPc(buf, static_cast<size_t>(n), NowUs());
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    // The terminal broke: serve nothing more, and wait for the stop without spinning.
                    pollfd stop{stopFd, POLLIN, 0};
                    while (poll(&stop, 1, -1) < 0 && errno == EINTR) {
                    }
                    return;
                }
            }
        }
    }

    void OpenPty()
    {
        std::lock_guard<std::mutex> lk(g_createPty);
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0) throw std::runtime_error(std::string("no pseudo-terminal: ") + std::strerror(errno));
        char name[128];
        if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0)
            throw std::runtime_error(std::string("pseudo-terminal set-up failed: ") + std::strerror(errno));
        slavePath = name;
        slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slave < 0) throw std::runtime_error("cannot open " + slavePath + ": " + std::strerror(errno));
        // Raw until the client sets its own line: no echo or line editing of the terminal itself.
        termios t{};
        if (tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
        }
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }

    void Close()
    {
        if (log) std::fclose(log);
        if (stopFd >= 0) close(stopFd);
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
        log = nullptr;
        stopFd = slave = master = -1;
    }
};

PtyMeterServer::PtyMeterServer(std::unique_ptr<SimMeter> meter, PtyMeterOptions options)
    : impl_(std::make_unique<Impl>())
{
    Impl& m = *impl_;
    if (!meter) throw std::runtime_error("no meter to serve");
    m.meter = std::move(meter);
    m.options = std::move(options);
    m.echo = m.options.echo.value_or(m.meter->Image().options.echo);
    m.turnaroundUs = m.options.turnaroundUs.value_or(m.meter->Image().options.turnaroundUs);
    try {
        m.OpenPty();
        m.stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m.stopFd < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
        if (!m.options.logPath.empty()) {
            m.log = std::fopen(m.options.logPath.c_str(), "w");
            if (!m.log) throw std::runtime_error("cannot write " + m.options.logPath + ": " + std::strerror(errno));
        }
    } catch (...) {
        m.Close();
        throw;
    }
    m.thread = std::thread([&m] { m.Run(); });
}

PtyMeterServer::~PtyMeterServer()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = write(impl_->stopFd, &one, sizeof one);
    if (impl_->thread.joinable()) impl_->thread.join();
    impl_->Close();
}

const std::string& PtyMeterServer::SlavePath() const
{
    return impl_->slavePath;
}

void PtyMeterServer::WithMeter(const std::function<void(SimMeter&)>& fn)
{
    std::lock_guard<std::mutex> lk(impl_->meterMu);
    fn(*impl_->meter);
}

uint64_t PtyMeterServer::Exchanges() const
{
    std::lock_guard<std::mutex> lk(impl_->statsMu);
    return impl_->exchanges;
}

double PtyMeterServer::LineTimeMs() const
{
    std::lock_guard<std::mutex> lk(impl_->statsMu);
    return impl_->lineTimeMs;
}

std::string PtyMeterServer::FormatExchange(const PtyExchange& e)
{
    char time[32];
    std::snprintf(time, sizeof time, "%12.6f", static_cast<double>(e.timeUs) / 1e6);
    return std::string(time) + " req" + Hex(e.request) + " ans" + Hex(e.answer) + " fault " +
           FaultText(e.fault, !e.answer.empty());
}

}  // namespace rv::sim
