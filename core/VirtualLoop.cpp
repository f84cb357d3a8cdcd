// Simulated time: every step jumps to the next timer deadline.
#include "VirtualLoop.h"

#include <algorithm>

namespace rv {

bool VirtualLoop::Step(uint64_t end)
{
    if (RunPending() > 0) return true;
    if (RunDueTimers() > 0) return true;
    const uint64_t next = NextDeadline();
    if (next > end) return false;
    now_ = std::max(now_, next);
    RunDueTimers();
    return true;
}

void VirtualLoop::ProcessOne(uint32_t maxWaitMs)
{
    const uint64_t end = now_ + maxWaitMs;
    if (!Step(end)) now_ = std::max(now_, end);
}

void VirtualLoop::RunFor(uint64_t ms)
{
    const uint64_t end = now_ + ms;
    while (Step(end)) {
    }
    now_ = std::max(now_, end);
}

bool VirtualLoop::RunUntil(const std::function<bool()>& cond, uint64_t limitMs)
{
    const uint64_t end = now_ + limitMs;
    while (!cond()) {
        if (!Step(end)) {
            now_ = std::max(now_, end);
            return cond();
        }
    }
    return true;
}

}  // namespace rv
