// One open terminal device on Linux: termios settings, queue counts, line functions, non-blocking
// transfers with poll waits, and the event wait (input, modem lines, line errors, vanishing).
#pragma once

#include <atomic>
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
    // The line discipline's read minimum (VMIN, VTIME 0): poll reports input only once that many
    // bytes are queued, while a non-blocking read still takes whatever is there. The kernel still
    // wakes the waiting thread for every chunk that arrives; what is saved is its return and hand-over.
    bool SetReceiveThreshold(uint32_t bytes) override;

private:
    struct SCounters {
        int cts = 0, dsr = 0, rng = 0, dcd = 0, frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    };
    enum class TLineWatch { None, Wait, Sample };

    TWaitResult PollDevice(short events, uint32_t ms);
    bool ReadCounters(SCounters& c) const;
    // The byte count the kernel holds plus the byte the event wait took to tell data from a hang-up.
    bool InputCount(uint32_t& count);
    // Classifies a readable-or-hung-up device in the event wait: true with evRxChar added, or false
    // when the device is gone.
    bool TakeInputEvent(uint32_t& events, bool hungUp);
    // The device woke a wait as readable but had nothing to read: another reader may have taken
    // the bytes first (the line is quiet again), bytes may have come since (count set), or the
    // line is gone (readable and empty for good, or hung up). Lock held.
    enum class TEmptyWake { Drained, Data, Gone };
    TEmptyWake RecheckEmpty(uint32_t& count);
    void StartLineWatch();
    void StopLineWatch();
    void WatchLines(TLineWatch mode);
    void ReportLines(uint32_t events);
    // The read minimum the device should have now: the threshold, or none while a reader waits
    // for any byte. Lock held.
    uint8_t WantedReadMinimum() const;
    bool ApplyReadMinimum();

    const int fd_;
    const bool terminal_;
    int cancelFd_ = -1;  // the close event
    int linesFd_ = -1;   // the line watcher's wake-up
    int epollFd_ = -1;

    std::mutex mu_;  // everything below up to the line watcher
    SDeviceControlBlock kept_;
    bool applied_ = false;
    uint32_t rxQueue_ = 4096;
    uint32_t txQueue_ = 4096;
    SCommTimeouts timeouts_;
    int pushback_ = -1;  // a byte the event wait read, given out first
    uint32_t threshold_ = 1;
    int readWaiters_ = 0;      // WaitReadable calls under way
    uint8_t readMinimum_ = 0;  // VMIN as last applied
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
