// The simulated meter behind a pseudo-terminal: a program opens the slave path as its serial port
// and talks to the meter as to a real one, with echo, line pacing and injected faults.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/FaultPlan.h"

namespace rv::sim {

class SimMeter;

// One request and its answer as they went over the line. Times are microseconds since the server
// started.
struct PtyExchange {
    uint64_t timeUs = 0;           // the request was complete at the meter
    std::vector<uint8_t> request;  // every byte the PC sent since the previous exchange (a wake-up byte too)
    std::vector<uint8_t> answer;   // as it went out: garbage and a spoilt checksum included; empty when dropped
    FaultApplied fault;
    uint64_t firstRequestUs = 0;  // the request's first byte was read from the line
    uint64_t lastAnswerUs = 0;    // the answer's last byte was written to the line (0 without an answer)
};

struct PtyMeterOptions {
    // The line returns the PC's own bytes (a two-wire line); the meter description's choice when unset.
    std::optional<bool> echo;
    // Every byte takes 10 bit times at this rate in both directions, the echo coming back while the
    // request goes out; 0 = bytes take no time.
    uint32_t baud = 0;
    // From a request's last byte to its answer's first; the meter description's choice when unset.
    std::optional<uint32_t> turnaroundUs;
    // One line per exchange (FormatExchange), flushed as it is written; empty for none.
    std::string logPath;
    // Called on the server's thread when an exchange is complete (its answer written or dropped).
    std::function<void(const PtyExchange&)> onExchange;
};

// Serves one meter on a thread of its own, which waits in poll (no CPU while the line is idle).
// The server keeps the slave side open itself, so a client may open, close and reopen the port.
class PtyMeterServer {
public:
    // Opens a pseudo-terminal and starts serving. The meter's fault plan applies. Throws
    // std::runtime_error when no pseudo-terminal can be had or the log cannot be created.
    explicit PtyMeterServer(std::unique_ptr<SimMeter> meter, PtyMeterOptions options = {});
    // Stops serving and closes the pseudo-terminal: a client's port sees its device vanish.
    ~PtyMeterServer();
    PtyMeterServer(const PtyMeterServer&) = delete;
    PtyMeterServer& operator=(const PtyMeterServer&) = delete;

    // The path a client opens, e.g. /dev/pts/3.
    const std::string& SlavePath() const;
    // Runs fn on the meter between two pieces of line work; any thread.
    void WithMeter(const std::function<void(SimMeter&)>& fn);

    // Exchanges completed so far; any thread.
    uint64_t Exchanges() const;
    // The line time of those exchanges: their request and answer bytes at 10 bit times each, plus
    // the turnaround before each answer, in milliseconds (late delays not counted). A client's wall
    // time for the same exchanges cannot be shorter.
    double LineTimeMs() const;

    // "  12.345678 req C9 05 0F 00 F0 5A 3C ans F0 0E ... fault -": seconds, hex bytes, the faults.
    static std::string FormatExchange(const PtyExchange& e);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace rv::sim
