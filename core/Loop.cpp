// Hand-over queue and timer schedule shared by every loop implementation.
#include "Loop.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "TTimer.h"

namespace rv {

namespace {
std::atomic<Loop*> g_current{nullptr};
}

Loop::Loop() : loopThread_(std::this_thread::get_id()), previous_(g_current.load())
{
    g_current.store(this);
}

Loop::~Loop()
{
    // Timers outlive nothing: whoever still holds one must not fire it any more.
    while (timers_) CancelTimer(timers_);
    if (g_current.load() == this) g_current.store(previous_);
}

Loop& Loop::Current()
{
    Loop* l = g_current.load();
    if (!l) {
        std::fputs("rivanta: no loop has been created\n", stderr);
        std::abort();
    }
    return *l;
}

Loop* Loop::CurrentOrNull() { return g_current.load(); }

void Loop::Post(std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> lk(mu_);
        posted_.push_back(std::move(fn));
    }
    cv_.notify_all();
    Wake();
}

void Loop::Invoke(const std::function<void()>& fn)
{
    if (IsLoopThread()) {
        fn();
        return;
    }
    Handover h{&fn, false, nullptr};
    {
        std::unique_lock<std::mutex> lk(mu_);
        handovers_.push_back(&h);
    }
    cv_.notify_all();
    Wake();
    std::unique_lock<std::mutex> lk(mu_);
    doneCv_.wait(lk, [&] { return h.done; });
    if (h.error) std::rethrow_exception(h.error);
}

bool Loop::ServeHandovers(uint32_t waitMs)
{
    std::unique_lock<std::mutex> lk(mu_);
    if (handovers_.empty() && waitMs > 0)
        cv_.wait_for(lk, std::chrono::milliseconds(waitMs), [&] { return !handovers_.empty(); });
    bool any = false;
    while (!handovers_.empty()) {
        Handover* h = handovers_.front();
        handovers_.pop_front();
        lk.unlock();
        try {
            (*h->fn)();
        } catch (...) {
            h->error = std::current_exception();
        }
        lk.lock();
        h->done = true;
        doneCv_.notify_all();
        any = true;
    }
    return any;
}

int Loop::RunPending()
{
    int n = ServeHandovers(0) ? 1 : 0;
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> lk(mu_);
            if (posted_.empty()) break;
            fn = std::move(posted_.front());
            posted_.pop_front();
        }
        fn();
        ++n;
    }
    return n;
}

bool Loop::HasPending() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return !posted_.empty() || !handovers_.empty();
}

void Loop::WaitForWork(uint32_t waitMs)
{
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait_for(lk, std::chrono::milliseconds(waitMs),
                 [&] { return !posted_.empty() || !handovers_.empty() || terminating_; });
}

void Loop::Terminate()
{
    {
        std::lock_guard<std::mutex> lk(mu_);
        terminating_ = true;
    }
    cv_.notify_all();
    Wake();
}

bool Loop::Terminating() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return terminating_;
}

void Loop::ScheduleTimer(TTimer* t, uint64_t dueMs)
{
    CancelTimer(t);
    t->due_ = dueMs;
    t->seq_ = ++timerSeq_;
    t->scheduled_ = true;
    // The newest timer goes behind every one with the same or an earlier deadline.
    TTimer* prev = nullptr;
    TTimer* cur = timers_;
    while (cur && cur->due_ <= dueMs) {
        prev = cur;
        cur = cur->next_;
    }
    t->prev_ = prev;
    t->next_ = cur;
    if (cur) cur->prev_ = t;
    if (prev) prev->next_ = t;
    else timers_ = t;
    if (timers_ == t) TimersChanged();
}

void Loop::CancelTimer(TTimer* t)
{
    if (!t->scheduled_) return;
    if (t->prev_) t->prev_->next_ = t->next_;
    else timers_ = t->next_;
    if (t->next_) t->next_->prev_ = t->prev_;
    t->next_ = t->prev_ = nullptr;
    t->scheduled_ = false;
}

uint64_t Loop::NextDeadline() const { return timers_ ? timers_->due_ : UINT64_MAX; }

int Loop::RunDueTimers()
{
    // Only timers due now and armed before this pass fire, each once; a timer re-armed by its
    // handler waits for its next period.
    const uint64_t now = NowMs();
    const uint64_t limit = timerSeq_;
    int fired = 0;
    for (;;) {
        TTimer* t = timers_;
        while (t && t->due_ <= now && t->seq_ > limit) t = t->next_;
        if (!t || t->due_ > now) break;
        const uint64_t due = t->due_;
        CancelTimer(t);
        t->Fire(due);
        ++fired;
    }
    return fired;
}

}  // namespace rv
