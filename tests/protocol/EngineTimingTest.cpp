// The engine's timing in virtual time: send delay, wake-up byte and pause, idle detection,
// time-outs and the retry cadence, and what BreakTransmit cancels.
#include <vector>

#include <gtest/gtest.h>

#include "EngineFixture.h"

namespace rv::test {
namespace {

using Bytes = std::vector<uint8_t>;

class Timing : public EngineTest {
protected:
    Timing()
    {
        engine.OnRepetition = [this](int n) { repetitions.push_back({loop.NowMs(), n}); };
    }

    struct Rep {
        uint64_t at;
        int n;
    };
    std::vector<Rep> repetitions;

    // Answers the current acknowledged request so that nothing is left waiting.
    void Acknowledge() { link.Deliver({0x06}); }
};

TEST_F(Timing, FirstRequestIsPrecededByTheWakeUpByteAndAPause)
{
    engine.KeyPress(1);
    loop.RunFor(200);
    ASSERT_EQ(link.writes.size(), 2u);
    EXPECT_TRUE(link.writes[0].single);
    EXPECT_EQ(link.writes[0].bytes, Bytes{0x00});
    EXPECT_EQ(link.writes[0].timeMs, 1u);  // after TimePackage
    EXPECT_FALSE(link.writes[1].single);
    EXPECT_EQ(link.writes[1].timeMs, 101u);
    EXPECT_FALSE(engine.GetWakeUpFlag());
}

// The pause after the wake-up byte holds the frame, not the loop thread: other timers fire during it, a request
// broken off during it sends nothing, and one made during it goes when it ends.
TEST_F(Timing, WakeUpPauseHoldsTheFrameNotTheLoop)
{
    TTimer other(nullptr, &loop);
    std::vector<uint64_t> ticks;
    other.SetInterval(10);
    other.OnTimer = [&](TObject*) { ticks.push_back(loop.NowMs()); };
    engine.KeyPress(1);
    loop.RunFor(1);  // the wake-up byte
    other.Start();
    loop.RunFor(99);
    EXPECT_EQ(ticks, (std::vector<uint64_t>{11, 21, 31, 41, 51, 61, 71, 81, 91}));
    ASSERT_EQ(link.writes.size(), 1u);
    loop.RunFor(1);
    ASSERT_EQ(link.writes.size(), 2u);
    EXPECT_EQ(link.writes[1].timeMs, 101u);
    other.Stop();
    Acknowledge();

    loop.RunFor(6000);  // idle: the next frame is woken again
    engine.KeyPress(2);
    loop.RunFor(50);
    ASSERT_EQ(link.writes.size(), 3u);
    EXPECT_TRUE(link.writes[2].single);
    engine.BreakTransmit();
    loop.RunFor(1000);
    EXPECT_EQ(link.writes.size(), 3u);

    // The break stopped the idle detection with the flag clear: the next frame goes unwoken; idle after it, the
    // one after that is woken again.
    engine.KeyPress(3);
    loop.RunFor(5);
    ASSERT_EQ(link.writes.size(), 4u);
    EXPECT_FALSE(link.writes[3].single);
    Acknowledge();
    loop.RunFor(6000);
    engine.KeyPress(4);
    loop.RunFor(50);
    ASSERT_EQ(link.writes.size(), 5u);
    const uint64_t woken = link.writes[4].timeMs;
    engine.BreakTransmit();
    engine.KeyPress(5);  // its send timer fires within the pause
    loop.RunFor(200);
    ASSERT_EQ(link.writes.size(), 6u);
    EXPECT_EQ(link.writes[5].timeMs, woken + 100);
    EXPECT_EQ(link.writes[5].bytes[3], 5);  // the key of the request made during the pause
}

TEST_F(Timing, WakeUpByteOnlyAfterTheLineWasIdle)
{
    engine.KeyPress(1);
    loop.RunFor(200);
    Acknowledge();
    const uint64_t firstFrame = link.writes.back().timeMs;  // the wake-up timer restarted 100 ms before
    // 2.8 s later: no wake-up byte.
    loop.RunFor(firstFrame - 100 + 2899 - loop.NowMs() - 1);
    engine.KeyPress(2);
    loop.RunFor(1);
    ASSERT_EQ(link.writes.size(), 3u);
    EXPECT_FALSE(link.writes[2].single);
    Acknowledge();
    // 3 s after that frame the first idle tick sets the flag: the next frame gets the byte.
    const uint64_t second = link.writes.back().timeMs;
    loop.RunFor(second + 3000 - loop.NowMs());
    EXPECT_TRUE(engine.GetWakeUpFlag());
    engine.KeyPress(3);
    loop.RunFor(200);
    ASSERT_EQ(link.writes.size(), 5u);
    EXPECT_TRUE(link.writes[3].single);
    EXPECT_EQ(link.writes[4].timeMs, link.writes[3].timeMs + 100);
}

TEST_F(Timing, SecondIdleTickStopsTheWakeUpTimer)
{
    engine.KeyPress(1);
    loop.RunFor(200);
    Acknowledge();
    loop.RunFor(60000);
    EXPECT_TRUE(engine.GetWakeUpFlag());
    engine.KeyPress(2);
    loop.RunFor(200);
    EXPECT_TRUE(link.writes[2].single);
}

TEST_F(Timing, BreakBeforeTheFirstIdleTickSuppressesTheNextWakeUp)
{
    engine.KeyPress(1);
    loop.RunFor(200);
    Acknowledge();
    loop.RunFor(1000);
    engine.BreakTransmit();
    loop.RunFor(60000);
    EXPECT_FALSE(engine.GetWakeUpFlag());
    engine.KeyPress(2);
    loop.RunFor(200);
    ASSERT_EQ(link.writes.size(), 3u);
    EXPECT_FALSE(link.writes[2].single);
}

TEST_F(Timing, SilentDeviceIsRetriedEveryTimeOutPlusTimePackage)
{
    engine.SetTimeOut(1500);
    engine.SetTimePackage(5);
    engine.ReadFlash(0x100, 100);
    loop.RunFor(5 + 100 + 1505 * 4);  // up to the fifth frame
    ASSERT_EQ(repetitions.size(), 4u);
    for (size_t i = 0; i < repetitions.size(); ++i) {
        EXPECT_EQ(repetitions[i].n, static_cast<int>(i + 1));
        EXPECT_EQ(repetitions[i].at, 105 + 1500 + i * 1505);
    }
    EXPECT_EQ(link.FrameCount(), 5u);
    engine.BreakTransmit();
    loop.RunFor(10000);
    EXPECT_EQ(repetitions.size(), 4u);
    EXPECT_EQ(link.FrameCount(), 5u);

    // The counter continues with the next request.
    engine.ReadFlash(0x100, 100);
    loop.RunFor(5 + 100 + 1500);
    ASSERT_EQ(repetitions.size(), 5u);
    EXPECT_EQ(repetitions.back().n, 5);
    EXPECT_EQ(engine.GetRepetitionCounter(), 5);
}

TEST_F(Timing, WithoutRepetitionATimeOutIsReportedOnce)
{
    int timeOuts = 0;
    engine.OnTimeOut = [&](TObject* s) {
        EXPECT_EQ(s, &engine);
        ++timeOuts;
    };
    engine.SetRepetition(false);
    engine.GetDeviceID();
    loop.RunFor(20000);
    EXPECT_EQ(timeOuts, 1);
    EXPECT_TRUE(repetitions.empty());
    EXPECT_EQ(link.FrameCount(), 1u);
}

TEST_F(Timing, WrongEchoEndsInATimeOut)
{
    engine.SetReceiving_back(true);
    engine.ReadFlash(0x100, 1);
    loop.RunFor(200);
    Bytes echo = link.Frames().back();
    echo[0] = 0x07;  // not the slave address
    link.Deliver(echo);
    link.Deliver(FramedAnswer({0x42}));
    EXPECT_EQ(engine.GetReceivePhase(), 0);
    loop.RunFor(1000);
    ASSERT_EQ(repetitions.size(), 1u);
}

TEST_F(Timing, BreakDuringTheSendDelaySendsNothing)
{
    engine.SetTimePackage(50);
    engine.ReadFlash(0x100, 1);
    loop.RunFor(20);
    engine.BreakTransmit();
    loop.RunFor(10000);
    EXPECT_TRUE(link.writes.empty());
    // A request after the break works normally.
    engine.ReadFlash(0x100, 1);
    loop.RunFor(200);
    EXPECT_EQ(link.FrameCount(), 1u);
}

TEST_F(Timing, BreakDuringTheWaitPreventsTheRetry)
{
    engine.ReadFlash(0x100, 1);
    loop.RunFor(500);
    engine.BreakTransmit();
    loop.RunFor(10000);
    EXPECT_TRUE(repetitions.empty());
    EXPECT_EQ(link.FrameCount(), 1u);

    // Breaking from the repetition handler cancels that retry too.
    engine.OnRepetition = [&](int) { engine.BreakTransmit(); };
    engine.ReadFlash(0x100, 1);
    loop.RunFor(10000);
    EXPECT_EQ(link.FrameCount(), 2u);
}

TEST_F(Timing, NewTimeOutRestartsARunningAnswerTimer)
{
    engine.ReadFlash(0x100, 1);
    loop.RunFor(600);  // frame at 101, time-out due at 1101
    engine.SetTimeOut(2000);
    loop.RunFor(1999);
    EXPECT_TRUE(repetitions.empty());
    loop.RunFor(1);
    ASSERT_EQ(repetitions.size(), 1u);
    EXPECT_EQ(repetitions[0].at, 2600u);
}

TEST_F(Timing, NewTimePackageRestartsARunningSendTimer)
{
    engine.SetTimePackage(50);
    engine.KeyPress(1);  // the send timer would fire at 50
    loop.RunFor(30);
    engine.SetTimePackage(40);
    loop.RunFor(39);
    EXPECT_TRUE(link.writes.empty());
    loop.RunFor(1);
    ASSERT_FALSE(link.writes.empty());
    EXPECT_EQ(link.writes[0].timeMs, 70u);  // the wake-up byte, 40 ms after the change
}

// The engine's own answer time-out of 1000 ms (what the KFS window keeps) and the main window's
// 1500 ms, each from the frame to the retry or the time-out to the millisecond.
TEST_F(Timing, AnswerTimeOutsOf1000And1500MsRunFromTheFrame)
{
    std::vector<uint64_t> timeOuts;
    engine.OnTimeOut = [&](TObject*) { timeOuts.push_back(loop.NowMs()); };
    for (const uint64_t timeOut : {1000u, 1500u}) {
        if (timeOut != 1000) engine.SetTimeOut(static_cast<int>(timeOut));
        engine.SetRepetition(true);
        repetitions.clear();
        engine.ReadFlash(0x100, 1);
        Send();
        const uint64_t frame = link.writes.back().timeMs;
        loop.RunFor(frame + timeOut - 1 - loop.NowMs());
        EXPECT_TRUE(repetitions.empty()) << timeOut;
        loop.RunFor(1);
        ASSERT_EQ(repetitions.size(), 1u) << timeOut;
        EXPECT_EQ(repetitions[0].at, frame + timeOut);
        // The retry goes after TimePackage and waits as long again.
        loop.RunFor(1 + timeOut);
        ASSERT_EQ(repetitions.size(), 2u) << timeOut;
        EXPECT_EQ(repetitions[1].at, frame + timeOut + 1 + timeOut);
        engine.BreakTransmit();

        engine.SetRepetition(false);
        engine.ReadFlash(0x100, 1);
        Send();
        const uint64_t single = link.writes.back().timeMs;
        loop.RunFor(10000);
        ASSERT_FALSE(timeOuts.empty()) << timeOut;
        EXPECT_EQ(timeOuts.back(), single + timeOut);
    }
    EXPECT_EQ(timeOuts.size(), 2u);
}

TEST_F(Timing, IrdaLineIsNeverWokenAgain)
{
    engine.SetWorkType(wtIrDA);
    ASSERT_TRUE(engine.Initialization());
    engine.KeyPress(1);  // the first frame still gets the byte set at creation
    loop.RunFor(200);
    Acknowledge();
    loop.RunFor(30000);
    EXPECT_FALSE(engine.GetWakeUpFlag());
    engine.KeyPress(2);
    loop.RunFor(200);
    ASSERT_EQ(link.writes.size(), 3u);
    EXPECT_FALSE(link.writes[2].single);
}

}  // namespace
}  // namespace rv::test
