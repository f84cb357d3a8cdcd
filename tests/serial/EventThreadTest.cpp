// The event thread against the scripted platform: where handlers run, what ends the thread's
// loop, the device-failure report, and closing the port from every awkward place.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "core/PosixLoop.h"
#include "fakes/FakeSerialPlatform.h"
#include "serial/TXComm.h"

using namespace rv;
using rv::test::FakePort;
using rv::test::FakeSerialPlatform;

namespace {

// For the unsynchronized cases, where nothing runs on the test thread.
bool WaitUntil(const std::function<bool()>& cond, int ms = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class EventThread : public ::testing::Test {
protected:
    bool Purged()
    {
        auto lk = pl.Lock();
        const auto& p = port.purges;
        return std::find(p.begin(), p.end(), purgeRxAbort | purgeRxClear) != p.end() &&
               std::find(p.begin(), p.end(), purgeTxAbort | purgeTxClear) != p.end();
    }

    FakeSerialPlatform pl;
    FakePort& port = pl.AddPort("COM2");
    std::mutex mu;  // guards what handlers record
};

}  // namespace

TEST_F(EventThread, UnsynchronizedEventsRunOnTheEventThreadDataFirst)
{
    TXComm comm(nullptr, &pl);
    comm.SetSynchronize(false);
    std::vector<std::string> log;
    std::thread::id where;
    comm.OnData = [&](TObject*, uint32_t n) {
        std::string s(n, '\0');
        s.resize(comm.ReadData(s.data(), n));
        std::lock_guard<std::mutex> lk(mu);
        where = std::this_thread::get_id();
        log.push_back("data " + s);
    };
    comm.OnCommEvent = [&](TObject*, TDeviceEvents ev) {
        std::lock_guard<std::mutex> lk(mu);
        log.push_back("event " + std::to_string(ev.ToBits()));
    };
    comm.OpenDevice();
    pl.Feed("COM2", "abc");
    pl.PushEvent("COM2", evTxEmpty);        // not among the events the thread waits for
    pl.PushEvent("COM2", evRxChar | evCts);  // deCTS is not monitored
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lk(mu);
        return log.size() >= 2;
    }));
    comm.CloseDevice();
    std::lock_guard<std::mutex> lk(mu);
    EXPECT_EQ(log, (std::vector<std::string>{"data abc", "event 1"}));
    EXPECT_NE(where, std::this_thread::get_id());
}

TEST_F(EventThread, SynchronizedEventsRunOnTheLoopThreadAndAHandlerErrorEndsTheLoop)
{
    PosixLoop loop;
    TXComm comm(nullptr, &pl);
    int calls = 0;
    std::thread::id where;
    comm.OnData = [&](TObject*, uint32_t) {
        where = std::this_thread::get_id();
        if (++calls == 2) throw std::runtime_error("boom");
    };
    comm.OpenDevice();
    pl.PushEvent("COM2", evRxChar);
    ASSERT_TRUE(loop.RunUntil([&] { return calls == 1; }, 5000));
    EXPECT_EQ(where, std::this_thread::get_id());

    pl.PushEvent("COM2", evRxChar);
    ASSERT_TRUE(loop.RunUntil([&] { return Purged(); }, 5000));
    EXPECT_EQ(comm.GetEventError(), "boom");
    EXPECT_FALSE(comm.GetDeviceLost());
    pl.PushEvent("COM2", evRxChar);  // nobody waits any more
    loop.RunFor(50);
    comm.CloseDevice();
    EXPECT_EQ(calls, 2);

    comm.OpenDevice();  // a new opening delivers again
    EXPECT_EQ(comm.GetEventError(), "");
    pl.PushEvent("COM2", evRxChar);
    EXPECT_TRUE(loop.RunUntil([&] { return calls == 3; }, 5000));
    comm.CloseDevice();
}

TEST_F(EventThread, AFailingDeviceIsReportedOnceAndThePortReopens)
{
    TXComm comm(nullptr, &pl);
    comm.SetSynchronize(false);
    std::atomic<int> lost{0};
    comm.OnDeviceLost = [&](TObject*) { ++lost; };
    comm.OpenDevice();
    pl.FailDevice("COM2");
    ASSERT_TRUE(WaitUntil([&] { return lost == 1 && Purged(); }));
    EXPECT_TRUE(comm.GetDeviceLost());
    EXPECT_TRUE(comm.GetOpened());  // the port stays open until its owner closes it
    comm.CloseDevice();
    EXPECT_EQ(lost, 1);
    {
        auto lk = pl.Lock();
        port.failed = false;
    }
    comm.OpenDevice();
    EXPECT_FALSE(comm.GetDeviceLost());
}

TEST_F(EventThread, AHandlerMayCloseThePortFromTheEventThread)
{
    auto comm = std::make_unique<TXComm>(nullptr, &pl);
    comm->SetSynchronize(false);
    std::atomic<bool> closed{false};
    comm->OnData = [&](TObject*, uint32_t) {
        comm->CloseDevice();
        closed = true;
    };
    comm->OpenDevice();
    pl.PushEvent("COM2", evRxChar);
    ASSERT_TRUE(WaitUntil([&] { return closed.load(); }));
    EXPECT_FALSE(comm->GetOpened());

    std::atomic<int> calls{0};
    comm->OpenDevice();  // joins the thread that closed the port, so its handler may be replaced
    comm->OnData = [&](TObject*, uint32_t) { ++calls; };
    pl.PushEvent("COM2", evRxChar);
    EXPECT_TRUE(WaitUntil([&] { return calls == 1; }));
    comm->OnData = [&](TObject*, uint32_t) {
        comm->CloseDevice();
        closed = true;
    };
    closed = false;
    pl.PushEvent("COM2", evRxChar);
    ASSERT_TRUE(WaitUntil([&] { return closed.load(); }));
    comm.reset();  // waits for the thread that closed its own port to finish
}

TEST_F(EventThread, AHandlerMayCloseThePortFromTheLoopThread)
{
    PosixLoop loop;
    TXComm comm(nullptr, &pl);
    bool closed = false;
    comm.OnData = [&](TObject*, uint32_t) {
        comm.CloseDevice();  // while the event thread waits for this very hand-over
        closed = true;
    };
    comm.OpenDevice();
    pl.PushEvent("COM2", evRxChar);
    ASSERT_TRUE(loop.RunUntil([&] { return closed; }, 5000));
    EXPECT_FALSE(comm.GetOpened());
    comm.OpenDevice();
    comm.CloseDevice();
}

TEST_F(EventThread, ClosingServesAPendingHandOverInsteadOfDeadlocking)
{
    PosixLoop loop;
    TXComm comm(nullptr, &pl);
    std::atomic<int> calls{0};
    comm.OnData = [&](TObject*, uint32_t) { ++calls; };
    comm.OpenDevice();
    pl.PushEvent("COM2", evRxChar);
    // The loop is not run: the event thread sits in its hand-over until the close serves it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto t0 = std::chrono::steady_clock::now();
    comm.CloseDevice();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(calls, 0);  // served after the port let go: nothing is delivered to a closing port
}
