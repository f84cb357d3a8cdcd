// The loop interface: monotonic time, timers, a blocking sleep, the cross-thread hand-over,
// one pump step and the terminating flag. One loop thread runs every timer and handler.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace rv {

class TTimer;

class Loop {
public:
    Loop();
    virtual ~Loop();
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    // The loop of this process: the most recently created one still alive.
    static Loop& Current();
    static Loop* CurrentOrNull();

    // Monotonic milliseconds since the loop was created.
    virtual uint64_t NowMs() const = 0;
    // The 32-bit millisecond tick counter; take differences in unsigned 32-bit arithmetic.
    uint32_t TickCount() const { return static_cast<uint32_t>(NowMs()); }
    // Blocks the calling (loop) thread; no timer fires during the sleep.
    virtual void Sleep(uint32_t ms) = 0;
    // One pump step: runs what is pending (hand-overs, posted calls, due timers), waiting up to
    // maxWaitMs for something to become due when nothing is. Loop thread only.
    virtual void ProcessOne(uint32_t maxWaitMs) = 0;

    // Any thread: runs fn later on the loop thread.
    void Post(std::function<void()> fn);
    // Any thread: runs fn on the loop thread and waits until it has run (the Synchronize hand-over).
    // An exception thrown by fn is carried back to the caller. On the loop thread fn runs at once.
    void Invoke(const std::function<void()>& fn);
    // Loop thread: runs the pending hand-overs only, waiting up to waitMs for one to arrive.
    // Used while the loop thread waits for a worker that may be blocked in Invoke.
    bool ServeHandovers(uint32_t waitMs);

    bool IsLoopThread() const { return std::this_thread::get_id() == loopThread_; }
    // Makes the calling thread the loop thread (the thread that runs the loop, if not its creator).
    void AdoptCurrentThread() { loopThread_ = std::this_thread::get_id(); }

    void Terminate();
    bool Terminating() const;

    // Used by TTimer.
    void ScheduleTimer(TTimer* t, uint64_t dueMs);
    void CancelTimer(TTimer* t);

protected:
    // Runs the timers due at NowMs() in deadline order, each at most once per call. Returns how many fired.
    int RunDueTimers();
    // Earliest timer deadline, or UINT64_MAX when no timer runs.
    uint64_t NextDeadline() const;
    // Runs pending hand-overs and posted calls. Returns how many ran.
    int RunPending();
    bool HasPending() const;
    // Waits (real time) up to waitMs for posted work or a hand-over; returns early when some arrives.
    void WaitForWork(uint32_t waitMs);
    // Called on any thread after work has been queued; loops that sleep elsewhere override it.
    virtual void Wake() {}
    // Called on the loop thread when a timer was armed; loops that wait on their own clock re-time.
    virtual void TimersChanged() {}

private:
    struct Handover {
        const std::function<void()>* fn;
        bool done = false;
        std::exception_ptr error;
    };

    std::thread::id loopThread_;
    Loop* previous_ = nullptr;

    mutable std::mutex mu_;
    std::condition_variable cv_;        // work arrived
    std::condition_variable doneCv_;    // a hand-over finished
    std::deque<Handover*> handovers_;
    std::deque<std::function<void()>> posted_;
    bool terminating_ = false;

    // Armed timers in (deadline, arming order), linked through the timers themselves so that
    // arming a timer never allocates.
    TTimer* timers_ = nullptr;
    uint64_t timerSeq_ = 0;
};

}  // namespace rv
