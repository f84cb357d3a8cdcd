// The event thread's loop, its hand-over to the loop thread, and its stopping without deadlock.
#include "TCommEventThread.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>

#include "ISerialPlatform.h"
#include "TCustomComm.h"
#include "core/Loop.h"

namespace rv {

namespace {
// Every device event except deOutEmpty, which only writes report.
constexpr uint32_t kThreadEventMask = 0x1FFB;
// The closer waits for hand-overs this long at a time; the thread's end wakes it sooner.
constexpr uint32_t kCloserWaitMs = 60000;
}  // namespace

struct TCommEventThread::State {
    std::atomic<TCustomComm*> port{nullptr};
    ISerialDevice* device = nullptr;  // valid until the port closes it after this thread ends
    Loop* loop = nullptr;
    uint32_t eventMask = 0;
    // Set while a hand-over of this thread runs on the loop thread.
    std::atomic<bool> inHandover{false};

    std::mutex mu;
    bool ended = false;
    bool closerWaiting = false;  // a closer on the loop thread serves hand-overs until the end
    bool wakeSent = false;
    bool wakeServed = false;
};

TCommEventThread::TCommEventThread(TCustomComm* Port, Loop* loop) : st_(std::make_shared<State>())
{
    st_->port = Port;
    st_->device = Port->Device();
    st_->loop = loop;
    st_->device->SetEventMask(kThreadEventMask);
    thread_ = std::thread([st = st_] { Run(st); });
}

TCommEventThread::~TCommEventThread()
{
    Stop();
    if (!thread_.joinable()) return;
    if (InsideOwnDispatch()) thread_.detach();  // destroyed from its own handler: nothing else can join it
    else Join();
}

bool TCommEventThread::InsideOwnDispatch() const
{
    if (std::this_thread::get_id() == thread_.get_id()) return true;
    return st_->loop && st_->loop->IsLoopThread() && st_->inHandover;
}

bool TCommEventThread::Stop()
{
    if (st_->port.exchange(nullptr)) st_->device->Cancel();
    if (!thread_.joinable()) return true;
    if (InsideOwnDispatch()) return false;
    Join();
    return true;
}

void TCommEventThread::Join()
{
    Loop* loop = st_->loop;
    if (loop && loop->IsLoopThread()) {
        {
            std::lock_guard<std::mutex> lk(st_->mu);
            st_->closerWaiting = true;
        }
        for (;;) {
            {
                std::lock_guard<std::mutex> lk(st_->mu);
                if (st_->ended && (!st_->wakeSent || st_->wakeServed)) break;
            }
            loop->ServeHandovers(kCloserWaitMs);
        }
    }
    thread_.join();
}

template <class Fn>
void TCommEventThread::Deliver(State& st, Fn&& fn)
{
    TCustomComm* port = st.port;
    if (!port) return;
    if (st.loop && port->GetSynchronize()) {
        st.loop->Invoke([&] {
            st.inHandover = true;
            struct Reset {
                std::atomic<bool>& f;
                ~Reset() { f = false; }
            } reset{st.inHandover};
            fn();
        });
    } else {
        fn();
    }
}

void TCommEventThread::DispatchEvents(State& st)
{
    TCustomComm* port = st.port;
    if (st.eventMask != 0 && port) port->HandleEvents(TDeviceEvents::FromBits(static_cast<uint16_t>(st.eventMask)));
}

void TCommEventThread::Run(const std::shared_ptr<State>& st)
{
    bool failed = false;
    while (st->port) {
        st->eventMask = 0;
        uint32_t events = 0;
        const TWaitResult r = st->device->WaitEvent(events);
        if (r == TWaitResult::Cancelled || !st->port) break;
        if (r != TWaitResult::Ready) {
            failed = true;
            break;
        }
        st->eventMask = events;
        // A handler's exception ends the loop; it goes no further than this thread.
        try {
            Deliver(*st, [&] { DispatchEvents(*st); });
        } catch (const std::exception& e) {
            if (TCustomComm* p = st->port) p->SetEventError(e.what());
            break;
        } catch (...) {
            if (TCustomComm* p = st->port) p->SetEventError("unknown exception");
            break;
        }
    }
    // Still attached: the loop ended on its own (the device failed or a handler raised).
    if (TCustomComm* p = st->port) {
        try {
            p->PurgeIn();
            p->PurgeOut();
        } catch (...) {
        }
        if (failed) {
            p->deviceLost_ = true;
            try {
                Deliver(*st, [&] {
                    if (TCustomComm* q = st->port) q->DeviceLost();
                });
            } catch (...) {
            }
        }
    }
    Finish(*st);
}

void TCommEventThread::Finish(State& st)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lk(st.mu);
        st.ended = true;
        wake = st.wakeSent = st.closerWaiting;
    }
    // The closer sleeps in ServeHandovers, which only a hand-over wakes.
    if (wake) {
        st.loop->Invoke([&st] {
            std::lock_guard<std::mutex> lk(st.mu);
            st.wakeServed = true;
        });
    }
}

}  // namespace rv
