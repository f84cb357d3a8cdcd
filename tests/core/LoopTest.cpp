// Timer rules, simulated time, the real-time loop and the cross-thread hand-over.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/PosixLoop.h"
#include "core/TObject.h"
#include "core/TTimer.h"
#include "core/VirtualLoop.h"

using namespace rv;

TEST(Timer, FiresAtItsIntervalUntilStopped)
{
    VirtualLoop loop;
    TTimer t;
    std::vector<uint64_t> at;
    t.OnTimer = [&](TObject*) { at.push_back(loop.NowMs()); };
    t.SetInterval(100);
    t.Start();
    loop.RunFor(350);
    EXPECT_EQ(at, (std::vector<uint64_t>{100, 200, 300}));
    t.Stop();
    loop.RunFor(1000);
    EXPECT_EQ(at.size(), 3u);
}

TEST(Timer, StartingARunningTimerKeepsItsPeriodANewIntervalRestartsIt)
{
    VirtualLoop loop;
    TTimer t;
    std::vector<uint64_t> at;
    t.OnTimer = [&](TObject*) { at.push_back(loop.NowMs()); };
    t.SetInterval(100);
    t.Start();
    loop.RunFor(60);
    t.Start();
    loop.RunFor(50);
    ASSERT_EQ(at, (std::vector<uint64_t>{100}));
    loop.RunFor(40);  // now 150
    t.SetInterval(30);
    loop.RunFor(31);
    EXPECT_EQ(at, (std::vector<uint64_t>{100, 180}));
    t.SetInterval(0);  // never fires
    loop.RunFor(500);
    EXPECT_EQ(at.size(), 2u);
}

TEST(Timer, OneShotByDisablingItselfAndRestartFromHandler)
{
    VirtualLoop loop;
    TTimer a, b;
    int na = 0, nb = 0;
    a.SetInterval(10);
    b.SetInterval(5);
    a.OnTimer = [&](TObject*) {
        a.Stop();
        ++na;
        b.Start();
    };
    b.OnTimer = [&](TObject*) {
        b.Stop();
        ++nb;
    };
    a.Start();
    loop.RunFor(100);
    EXPECT_EQ(na, 1);
    EXPECT_EQ(nb, 1);
    EXPECT_EQ(loop.NowMs(), 100u);
}

TEST(VirtualLoop, SleepFiresNothingDueTimersFireAfterwardsInDeadlineOrder)
{
    VirtualLoop loop;
    TTimer slow, fast;
    std::vector<std::string> order;
    slow.SetInterval(50);
    fast.SetInterval(20);
    slow.OnTimer = [&](TObject*) {
        slow.Stop();
        order.push_back("slow@" + std::to_string(loop.NowMs()));
    };
    fast.OnTimer = [&](TObject*) {
        order.push_back("fast@" + std::to_string(loop.NowMs()));
        if (order.size() == 1) loop.Sleep(100);  // blocks the loop thread
    };
    fast.Start();
    slow.Start();
    loop.RunFor(125);
    // fast fires at 20 and sleeps to 120; at 120 the overdue timers fire once each, fast first (due 40).
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[0], "fast@20");
    EXPECT_EQ(order[1], "fast@120");
    EXPECT_EQ(order[2], "slow@120");
}

TEST(VirtualLoop, RunUntilStopsAtConditionOrLimit)
{
    VirtualLoop loop;
    TTimer t;
    int n = 0;
    t.SetInterval(7);
    t.OnTimer = [&](TObject*) { ++n; };
    t.Start();
    EXPECT_TRUE(loop.RunUntil([&] { return n == 3; }, 1000));
    EXPECT_EQ(loop.NowMs(), 21u);
    EXPECT_FALSE(loop.RunUntil([] { return false; }, 100));
    EXPECT_EQ(loop.NowMs(), 121u);
    loop.ProcessOne(1000);  // one step: the next tick at 126
    EXPECT_EQ(loop.NowMs(), 126u);
}

TEST(Component, OwnerDestroysWhatItOwnsOnce)
{
    VirtualLoop loop;
    auto* owner = new TComponent;
    auto* a = new TTimer(owner);
    auto* b = new TTimer(owner);
    a->SetName("a");
    EXPECT_EQ(owner->ComponentCount(), 2);
    delete b;  // unregisters itself
    EXPECT_EQ(owner->ComponentCount(), 1);
    a->SetInterval(5);
    a->Start();
    delete owner;  // deletes a, which leaves the schedule
    loop.RunFor(100);
}

TEST(PosixLoop, TimersAndHandoverFromAnotherThread)
{
    PosixLoop loop;
    TTimer t;
    int ticks = 0;
    t.SetInterval(5);
    t.OnTimer = [&](TObject*) { ++ticks; };
    t.Start();
    std::atomic<bool> ran{false};
    std::thread worker([&] {
        loop.Invoke([&] {
            EXPECT_TRUE(loop.IsLoopThread());
            ran = true;
        });
    });
    EXPECT_TRUE(loop.RunUntil([&] { return ran.load() && ticks >= 3; }, 5000));
    worker.join();
}

TEST(PosixLoop, HandoverCarriesExceptionsBackAndIsServedWhileJoining)
{
    PosixLoop loop;
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        try {
            loop.Invoke([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
    });
    // The loop thread waits for the worker, serving hand-overs as it waits.
    while (!caught.load()) loop.ServeHandovers(20);
    worker.join();
    EXPECT_TRUE(caught.load());
}

TEST(PosixLoop, QuitEndsRun)
{
    PosixLoop loop;
    std::thread worker([&] { loop.Post([&] { loop.Quit(7); }); });
    EXPECT_EQ(loop.Run(), 7);
    worker.join();
}
