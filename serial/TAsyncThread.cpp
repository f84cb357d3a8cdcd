// The transfer worker's body, its completion call through the loop thread, and the way it leaves:
// by itself, or joined by a port that waits for it while closing.
#include "TAsyncThread.h"

#include <algorithm>
#include <vector>

#include "AsyncRecord.h"
#include "ISerialPlatform.h"
#include "core/Loop.h"

namespace rv {

namespace {
// A transfer without a time-out waits this long at a time; closing the device cancels it sooner.
constexpr uint32_t kForeverMs = 0x7FFFFFFF;
// A closer on the loop thread is woken by the workers' hand-overs; this only bounds the odd case
// of a worker given up from another thread while the closer sleeps.
constexpr uint32_t kCloserWaitMs = 1000;
}  // namespace

TAsyncThread::TAsyncThread(std::shared_ptr<SAsyncRecord> Rec)
    : rec_(std::move(Rec)), device_(rec_->Device), owner_(rec_->Owner)
{
}

TAsyncThread::~TAsyncThread() = default;

TAsyncThread& TAsyncThread::Reserve(SAsyncState& st, std::shared_ptr<SAsyncRecord> Rec)
{
    st.workers.push_back(std::unique_ptr<TAsyncThread>(new TAsyncThread(std::move(Rec))));
    TAsyncThread& w = *st.workers.back();
    w.self_ = std::prev(st.workers.end());
    return w;
}

void TAsyncThread::Start()
{
    SAsyncState& st = AsyncState();
    // Held until thread_ is set: the worker's end takes the lock before it looks at thread_.
    std::lock_guard<std::mutex> lk(st.mu);
    try {
        thread_ = std::thread([this] { Execute(); });
    } catch (...) {
        rec_->Flags.fetch_or(afDone);
        RemoveLocked(st);
        st.closerCv.notify_all();
        throw;
    }
}

void TAsyncThread::Abandon()
{
    SAsyncState& st = AsyncState();
    std::lock_guard<std::mutex> lk(st.mu);
    rec_->Flags.fetch_or(afDone);
    RemoveLocked(st);
    st.closerCv.notify_all();
}

void TAsyncThread::RemoveLocked(SAsyncState& st) { st.workers.erase(self_); }

void TAsyncThread::Execute()
{
    ShowApplicationTitle(rec_->CallLoop, "Started");
    Complete(Transfer());
    Finish();
}

// The start function made the first attempt. Waits for room or input and moves more until every
// byte went or the time-out passed; running out of time is no failure, the count tells.
bool TAsyncThread::Transfer()
{
    SAsyncRecord& r = *rec_;
    if (r.Refused || !device_) return false;
    while (r.Moved < r.Wanted) {
        uint32_t wait = kForeverMs;
        if (!r.Unlimited) {
            const uint32_t elapsed = r.Clock->TickCount() - r.Start;
            if (elapsed >= r.Limit) break;
            wait = std::min(r.Limit - elapsed, kForeverMs);
        }
        const TWaitResult w = r.Write ? device_->WaitWritable(wait) : device_->WaitReadable(wait);
        if (w == TWaitResult::Cancelled || w == TWaitResult::Failed) return false;
        const uint32_t left = r.Wanted - r.Moved;
        const int64_t n = r.Write ? device_->Write(r.Data + r.Moved, left) : device_->Read(r.Data + r.Moved, left);
        if (n < 0) return false;
        r.Moved += static_cast<uint32_t>(std::min<int64_t>(n, left));
    }
    return true;
}

void TAsyncThread::Complete(bool Success)
{
    SAsyncRecord& r = *rec_;
    SAsyncState& st = AsyncState();
    if (Success) r.Flags.fetch_or(afSuccess);
    r.Count = r.Moved;
    // The caller's string was sized to what was queued; fewer bytes may have come.
    if (r.Flags & afStringRead) static_cast<std::string*>(r.Buffer)->resize(r.Moved);

    TAsyncProc proc;
    {
        std::lock_guard<std::mutex> lk(st.mu);
        proc = r.Proc;
    }
    if (proc) {
        const auto count = static_cast<int32_t>(r.Moved);
        auto call = [&] {
            {
                std::lock_guard<std::mutex> lk(st.mu);
                completingOn_ = std::this_thread::get_id();
            }
            struct Reset {
                TAsyncThread& w;
                SAsyncState& s;
                ~Reset()
                {
                    std::lock_guard<std::mutex> lk(s.mu);
                    w.completingOn_ = {};
                }
            } reset{*this, st};
            proc(Success, r.Buffer, count);
        };
        // Nobody waits for the worker to hear of a handler's exception; it stops here.
        try {
            if (r.CallLoop) r.CallLoop->Invoke(call);
            else call();
        } catch (...) {
        }
    }

    const uint8_t before = r.Flags.fetch_or(afDone);
    if (r.Waiters > 0) {
        {
            std::lock_guard<std::mutex> lk(r.WaitMu);
        }
        r.WaitCv.notify_all();
    }
    if (before & afReleaseWhenDone) {
        std::lock_guard<std::mutex> lk(st.mu);
        ReleaseRecordLocked(st, r);
    }
    // Whoever pumps the loop for this (a wait, a poll of IsAsyncDone) sees it without delay.
    if (r.CallLoop) r.CallLoop->Post([] {});
}

void TAsyncThread::Finish()
{
    SAsyncState& st = AsyncState();
    Loop* wake = nullptr;
    {
        std::lock_guard<std::mutex> lk(st.mu);
        bool awaited = false;
        for (const SAsyncCloser* c : st.closers) {
            if (c->Owner != owner_) continue;
            awaited = true;
            if (c->ServedLoop) wake = c->ServedLoop;
        }
        if (!awaited) {
            thread_.detach();
            RemoveLocked(st);  // this worker is gone from here on
            return;
        }
        if (!wake) {
            ended_ = true;
            st.closerCv.notify_all();
            return;
        }
    }
    // The closer sleeps in ServeHandovers, which only a hand-over wakes; it joins this thread once
    // the hand-over has run.
    wake->Invoke([this, &st] {
        std::lock_guard<std::mutex> lk(st.mu);
        ended_ = true;
    });
}

void TAsyncThread::EndTransfers(const void* Owner, bool Forget)
{
    SAsyncState& st = AsyncState();
    Loop* loop = Loop::CurrentOrNull();
    SAsyncCloser closer{Owner, loop && loop->IsLoopThread() ? loop : nullptr};
    const std::thread::id me = std::this_thread::get_id();
    std::vector<std::unique_ptr<TAsyncThread>> ended;
    {
        std::unique_lock<std::mutex> lk(st.mu);
        for (auto& [handle, rec] : st.records) {
            if (rec->Owner != Owner) continue;
            rec->Device = nullptr;
            if (Forget) rec->Proc = nullptr;
        }
        st.closers.push_back(&closer);
        // A worker whose completion call led here has finished with the device and cannot end
        // before this returns.
        auto running = [&] {
            return std::any_of(st.workers.begin(), st.workers.end(), [&](const std::unique_ptr<TAsyncThread>& w) {
                return w->owner_ == Owner && !w->ended_ && w->completingOn_ != me;
            });
        };
        while (running()) {
            if (closer.ServedLoop) {
                lk.unlock();
                closer.ServedLoop->ServeHandovers(kCloserWaitMs);
                lk.lock();
            } else {
                st.closerCv.wait(lk);
            }
        }
        st.closers.erase(std::find(st.closers.begin(), st.closers.end(), &closer));
        for (auto it = st.workers.begin(); it != st.workers.end();) {
            if ((*it)->owner_ == Owner && (*it)->ended_) {
                ended.push_back(std::move(*it));
                it = st.workers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& w : ended) w->thread_.join();
}

}  // namespace rv
