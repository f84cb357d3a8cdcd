// Real-time loop: waits on the hand-over queue's condition until work or the next deadline.
#include "PosixLoop.h"

#include <algorithm>
#include <thread>

namespace rv {

PosixLoop::PosixLoop() : start_(std::chrono::steady_clock::now()) {}

uint64_t PosixLoop::NowMs() const
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count());
}

void PosixLoop::Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void PosixLoop::ProcessOne(uint32_t maxWaitMs)
{
    if (RunPending() > 0) return;
    if (RunDueTimers() > 0) return;
    const uint64_t now = NowMs();
    const uint64_t next = NextDeadline();
    uint64_t wait = maxWaitMs;
    if (next != UINT64_MAX) wait = std::min<uint64_t>(wait, next > now ? next - now : 0);
    if (wait > 0) WaitForWork(static_cast<uint32_t>(wait));
    RunPending();
    RunDueTimers();
}

int PosixLoop::Run()
{
    quit_ = false;
    while (!quit_ && !Terminating()) ProcessOne(1000);
    return code_;
}

void PosixLoop::Quit(int code)
{
    code_ = code;
    quit_ = true;
    Post([] {});  // wake a waiting ProcessOne
}

void PosixLoop::RunFor(uint64_t ms)
{
    const uint64_t end = NowMs() + ms;
    for (uint64_t now = NowMs(); now < end && !Terminating(); now = NowMs())
        ProcessOne(static_cast<uint32_t>(end - now));
}

bool PosixLoop::RunUntil(const std::function<bool()>& cond, uint64_t limitMs)
{
    const uint64_t end = NowMs() + limitMs;
    while (!cond()) {
        const uint64_t now = NowMs();
        if (now >= end || Terminating()) return cond();
        ProcessOne(static_cast<uint32_t>(std::min<uint64_t>(end - now, 50)));
    }
    return true;
}

}  // namespace rv
