// A scripted serial platform for driver tests: ports with input queues and arrivals on a virtual
// clock, a record of every setting and byte the driver hands over, refusals on demand, and an
// event wait the test feeds. Waits move the virtual clock instead of blocking.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/ISerialPlatform.h"

namespace rv::test {

struct FakePort {
    bool open = false;
    int opens = 0;
    int openError = 0;  // errno of every open while set

    std::deque<uint8_t> input;
    std::multimap<uint32_t, std::vector<uint8_t>> arrivals;  // tick -> bytes that arrive then
    int readError = 0;                                       // errno of every read while set

    std::vector<uint8_t> written;
    std::vector<uint32_t> writeCalls;  // the count of each write
    uint32_t outQueue = 0;             // bytes reported waiting to go out
    int64_t writeAccept = -1;          // most bytes one write takes; -1 all, 0 none
    int64_t writeBudget = -1;          // bytes the line takes before flow control holds it; -1 no hold
    int writeError = 0;

    SDeviceControlBlock dcb;
    std::vector<SDeviceControlBlock> applied;
    uint32_t takesRate = 0;  // the device runs at this rate whatever it is given
    bool refuseState = false;
    bool stateUnreadable = false;
    std::vector<std::pair<uint32_t, uint32_t>> queueRequests;
    uint32_t rxQueue = 4096, txQueue = 4096;
    bool refuseQueues = false;
    SCommTimeouts timeouts;
    std::vector<uint32_t> purges;
    std::vector<uint32_t> escapes;
    uint32_t statusFlags = 0;
    uint32_t maxBaud = baudUser;

    uint32_t eventMask = 0;
    std::deque<uint32_t> events;
    bool failed = false;
    // Above 1, evRxChar is reported only while at least this many bytes are queued, as a terminal
    // does (at 1 the pushed events go through as they are); every value the driver set, in order.
    uint32_t threshold = 1;
    std::vector<uint32_t> thresholds;

    // Settings, line functions and writes in the order the driver made them, each with the time of
    // the platform's CallClock: "rate 9600", "DTR on", "RTS off", "break on", "write 10 FF".
    std::vector<std::pair<uint64_t, std::string>> calls;
};

class FakeSerialPlatform : public ISerialPlatform {
public:
    FakePort& AddPort(const std::string& name);
    // The port's state. Lock first while an event thread may be running.
    FakePort& Port(const std::string& name);
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mu_); }

    void Feed(const std::string& name, const std::string& bytes);
    void FeedAt(const std::string& name, uint32_t tick, const std::string& bytes);
    // Wakes the port's event wait with these ev* bits.
    void PushEvent(const std::string& name, uint32_t events);
    // The device vanishes: the event wait and the transfer waits report the failure.
    void FailDevice(const std::string& name);

    uint32_t Now() const { return now_; }
    void Advance(uint32_t ms) { now_ += ms; }
    void SetNow(uint32_t tick) { now_ = tick; }
    // Called at the start of every transfer wait, outside the platform lock.
    std::function<void()> OnWait;
    // Stamps FakePort::calls (a test's loop time, say); the platform's ticks when unset.
    std::function<uint64_t()> CallClock;

    std::unique_ptr<ISerialDevice> Open(const std::string& name) override;
    uint32_t TickCount() override { return now_; }
    int LastError() override;
    std::string ErrorText(int error) override;
    std::vector<std::string> ListPorts() override;

private:
    friend class FakeSerialDevice;
    // Moves the arrivals due by the virtual clock into the input queue. Lock held.
    void DeliverDue(FakePort& port);
    // Appends to port.calls. Lock held.
    void Record(FakePort& port, std::string what);

    std::mutex mu_;
    std::condition_variable eventCv_;
    std::map<std::string, std::unique_ptr<FakePort>> ports_;
    std::atomic<uint32_t> now_{1000};
};

}  // namespace rv::test
