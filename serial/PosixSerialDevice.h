// One open terminal device on Linux: termios settings, queue counts, line functions, non-blocking
// transfers with poll waits, and the event wait (input, modem lines, line errors, vanishing).
#pragma once

#include <atomic>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ISerialPlatform.h"

namespace rv {

// The last system error recorded by a failing operation of this thread.
int PosixLastError();
void SetPosixLastError(int error);

class PosixSerialDevice : public ISerialDevice {
public:
    // Takes over fd, opened non-blocking. False from Init (errno recorded) when the wait handles
    // cannot be created; the device must then be destroyed.
    PosixSerialDevice(int fd, bool isTerminal);
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;
    bool Init();

    bool GetState(SDeviceControlBlock& dcb) override;
    bool SetState(const SDeviceControlBlock& dcb) override;
    bool SetupQueues(uint32_t inSize, uint32_t outSize) override;
    bool SetTimeouts(const SCommTimeouts& timeouts) override;
    bool GetTimeouts(SCommTimeouts& timeouts) override;
    bool Purge(uint32_t flags) override;
    bool ClearError(uint32_t& errors, SCommStat& stat) override;
    bool GetProperties(SCommProp& prop) override;
    bool Escape(uint32_t function) override;
    bool GetModemStatus(uint32_t& status) override;

    int64_t Read(void* buffer, uint32_t count) override;
    int64_t Write(const void* buffer, uint32_t count) override;
    TWaitResult WaitReadable(uint32_t ms) override;
    TWaitResult WaitWritable(uint32_t ms) override;
    TWaitResult Pause(uint32_t ms) override;

    bool SetEventMask(uint32_t mask) override;
    TWaitResult WaitEvent(uint32_t& events) override;
    void Cancel() override;
    // The event wait reports input once this many bytes are held. A packet trickling in at the
    // line's pace is not watched byte by byte: after its first bytes the wait sleeps through the
    // line time of the rest, so a packet costs a few wake-ups however long it is.
    bool SetReceiveThreshold(uint32_t bytes) override;

private:
    struct SCounters {
        int cts = 0, dsr = 0, rng = 0, dcd = 0, frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    };
    enum class TLineWatch { None, Wait, Sample };

    // What the event wait does next about input.
    struct SInputPlan {
        bool watchPort = true;  // wait on the port itself for its next bytes
        int64_t sleepNs = -1;   // or sleep this long without it (-1: no time limit)
    };

    TWaitResult PollDevice(short events, uint32_t ms);
    bool ReadCounters(SCounters& c) const;
    // The bytes held here plus the bytes the kernel holds. Lock held.
    bool InputCount(uint32_t& count);
    uint32_t HeldCount() const { return static_cast<uint32_t>(heldEnd_ - heldBegin_); }
    // Moves what the kernel holds into the held bytes, as far as they have room. Lock held.
    // False when the read fails (errno recorded); pulled tells how many bytes came.
    bool PullInput(uint32_t& pulled);
    // The evBreak / evErr events since the last input event. Lock held.
    uint32_t LineErrorEvents();
    // Decides the event wait's next step after pulling the input; adds evRxChar when the held
    // bytes reached the threshold with new ones among them. Lock held.
    bool PlanInput(uint32_t& events, bool portReadable, bool slept, SInputPlan& plan);
    // The device is gone: bytes that came before the loss are still handed out (evRxChar added,
    // whatever the threshold); the failure follows on the next wait. Lock held.
    void TakeLastInput(uint32_t& events);
    // The device woke a wait as readable but had nothing to read: another reader may have taken
    // the bytes first (the line is quiet again), bytes may have come since (count set), or the
    // line is gone (readable and empty for good, or hung up). Lock held.
    enum class TEmptyWake { Drained, Data, Gone };
    TEmptyWake RecheckEmpty(uint32_t& count);
    void StartLineWatch();
    void StopLineWatch();
    void WatchLines(TLineWatch mode);
    void ReportLines(uint32_t events);
    static void Signal(int eventFd);
    static void Drain(int eventFd);

    const int fd_;
    const bool terminal_;
    int cancelFd_ = -1;  // the close event
    int wakeFd_ = -1;    // the event wait looks again: lines changed, a new threshold, room to read into
    int heldFd_ = -1;    // a reader's wait looks again: the event wait took bytes into the held ones

    std::mutex mu_;  // everything below up to the line watcher
    SDeviceControlBlock kept_;
    bool applied_ = false;
    uint32_t rxQueue_ = 4096;
    uint32_t txQueue_ = 4096;
    SCommTimeouts timeouts_;
    // Bytes the event wait took from the kernel, given out first: held_[heldBegin_..heldEnd_).
    std::unique_ptr<uint8_t[]> held_;
    size_t heldBegin_ = 0;
    size_t heldEnd_ = 0;
    uint64_t arrived_ = 0;   // bytes ever taken into the held ones
    uint64_t reported_ = 0;  // arrived_ at the last evRxChar
    uint32_t threshold_ = 1;
    uint64_t byteNs_ = 0;  // one character's line time at the settings, 0 when unknown
    int readWaiters_ = 0;  // WaitReadable calls under way
    bool eventWaiting_ = false;  // the event wait sits in its poll on what it planned
    bool countersOk_ = false;
    SCounters errorBase_;  // for ClearError
    SCounters eventBase_;  // for the deError / deBreak events

    std::atomic<uint32_t> mask_{0};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> failed_{false};

    std::thread watcher_;
    std::mutex watchMu_;
    std::condition_variable watchCv_;
    bool watchSignal_ = false;  // the watcher may sit in the kernel's line wait
    bool watchStop_ = false;
    bool watchEnded_ = false;
    std::atomic<uint32_t> pendingLines_{0};
};

}  // namespace rv
