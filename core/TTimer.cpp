// Loop timers with the period rules the protocol engine relies on.
#include "TTimer.h"

#include "Loop.h"

namespace rv {

TTimer::TTimer(TComponent* owner, Loop* loop) : TComponent(owner), loop_(loop ? loop : &Loop::Current()) {}

TTimer::~TTimer() { loop_->CancelTimer(this); }

void TTimer::SetEnabled(bool enabled)
{
    if (enabled == enabled_) return;  // starting a running timer keeps its period
    enabled_ = enabled;
    if (enabled_) Arm();
    else loop_->CancelTimer(this);
}

void TTimer::SetInterval(uint32_t ms)
{
    if (ms == interval_) return;
    interval_ = ms;
    if (enabled_) Arm();  // a new interval restarts the period
}

void TTimer::Arm()
{
    if (interval_ == 0) {
        loop_->CancelTimer(this);
        return;
    }
    loop_->ScheduleTimer(this, loop_->NowMs() + interval_);
}

void TTimer::Fire(uint64_t due)
{
    // Re-arm before the handler so that a handler which stops or re-times the timer has the last word.
    // Periods missed while the loop thread was blocked are coalesced into one tick.
    uint64_t next = due + interval_;
    const uint64_t now = loop_->NowMs();
    if (next <= now) next = now + interval_;
    if (interval_ != 0) loop_->ScheduleTimer(this, next);
    OnTimer(this);
}

std::unique_ptr<TTimer> MakeTimer(Loop& loop, const char* name, uint32_t interval)
{
    auto timer = std::make_unique<TTimer>(nullptr, &loop);
    timer->SetName(name);
    timer->SetInterval(interval);
    return timer;
}

}  // namespace rv
