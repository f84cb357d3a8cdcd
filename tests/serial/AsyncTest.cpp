// Asynchronous transfers against the scripted platform: handles and their records, the order and
// thread of the completion calls, the port's time-outs in virtual time, refused transfers, one
// transfer per record, and many transfers in a row leaving nothing behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "core/PosixLoop.h"
#include "fakes/FakeSerialPlatform.h"
#include "serial/CommErrors.h"
#include "serial/DeviceErrorOf.h"
#include "serial/TXComm.h"
#include "serial/XAsync.h"

using namespace rv;
using rv::test::FakePort;
using rv::test::FakeSerialPlatform;
using rv::test::CodeOf;

namespace {

struct SCompletion {
    bool success;
    void* data;
    int32_t count;
    std::thread::id thread;
};

class Async : public ::testing::Test {
protected:
    void SetUp() override { comm.OpenDevice(); }

    TAsyncProc Recorder()
    {
        return [this](bool s, void* d, int32_t n) {
            log.push_back("done");
            done.push_back({s, d, n, std::this_thread::get_id()});
        };
    }
    bool RunUntilDone(HASYNC h) { return loop.RunUntil([&] { return IsAsyncDone(h); }, 5000); }
    std::string Written()
    {
        auto lk = pl.Lock();
        return std::string(port.written.begin(), port.written.end());
    }

    FakeSerialPlatform pl;
    FakePort& port = pl.AddPort("COM2");
    PosixLoop loop;
    TXComm comm{nullptr, &pl};
    std::vector<std::string> log;
    std::vector<SCompletion> done;
};

template <class E>
std::string MessageOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const E& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST_F(Async, HandlesThatNameNoLiveRecordAreInvalidAndRaiseEverywhere)
{
    const size_t records = AsyncRecordCount();
    const HASYNC h = comm.InitAsync(nullptr, false);
    EXPECT_TRUE(IsHandleValid(h));
    EXPECT_TRUE(IsAsyncDone(h));  // a new record has nothing running
    EXPECT_EQ(AsyncRecordCount(), records + 1);
    EXPECT_FALSE(IsHandleValid(~h));  // the check word itself is no handle
    EXPECT_TRUE(comm.CloseAsync(h));
    EXPECT_EQ(AsyncRecordCount(), records);

    char buf[4];
    for (const HASYNC bad : {h, HASYNC{0}, HASYNC{0xDEADBEEF}}) {
        EXPECT_FALSE(IsHandleValid(bad));
        EXPECT_TRUE(IsAsyncDone(bad));
        EXPECT_EQ(MessageOf<EAsyncError>([&] { comm.CloseAsync(bad); }), "Invalid HASYNC handle value.");
        EXPECT_EQ(MessageOf<EAsyncError>([&] { comm.ReadAsync(bad, buf, 1); }), SHInvalidHandle);
        EXPECT_EQ(MessageOf<EAsyncError>([&] { comm.SendAsync(bad, "x", 1); }), SHInvalidHandle);
        EXPECT_EQ(MessageOf<EAsyncError>([&] { comm.WaitAsync(bad, nullptr); }), SHInvalidHandle);
        std::string s;
        EXPECT_EQ(MessageOf<EAsyncError>([&] { comm.ReadStringAsync(bad, s); }), SHInvalidHandle);
    }
    EXPECT_EQ(AsyncThreadCount(), 0u);
}

TEST_F(Async, PortChecksComeBeforeTheHandle)
{
    const HASYNC h = comm.InitAsync(nullptr, false);
    comm.OnSend = [&](TObject*) {
        EXPECT_EQ(CodeOf([&] { comm.SendAsync(h, "x", 1); }), ecLockedSend);
        char c;
        EXPECT_EQ(CodeOf([&] { comm.ReadAsync(h, &c, 1); }), ecLockedRead);
    };
    comm.SendData("a", 1);  // OnSend runs under the callback lock
    EXPECT_TRUE(IsAsyncDone(h));
    comm.CloseDevice();
    EXPECT_EQ(CodeOf([&] { comm.SendAsync(h, "x", 1); }), ecCommClosed);
    EXPECT_EQ(CodeOf([&] { comm.WaitAsync(h, nullptr); }), ecCommClosed);
    EXPECT_EQ(CodeOf([&] { comm.InitAsync(nullptr, false); }), ecCommClosed);
    EXPECT_TRUE(comm.CloseAsync(h));  // the record outlives the device
}

TEST_F(Async, AnEmptyStringStartsNothingButStillReportsTheOutputEmpty)
{
    std::vector<TDeviceEvents> events;
    comm.OnCommEvent = [&](TObject*, TDeviceEvents e) { events.push_back(e); };
    const HASYNC h = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.SendStringAsync(h, ""), 0u);
    EXPECT_EQ(AsyncThreadCount(), 0u);
    EXPECT_TRUE(IsAsyncDone(h));
    EXPECT_EQ(events, std::vector<TDeviceEvents>{TDeviceEvents{deOutEmpty}});
    loop.RunFor(20);
    EXPECT_TRUE(done.empty());
    EXPECT_TRUE(port.writeCalls.empty());
    EXPECT_TRUE(comm.CloseAsync(h));
}

TEST_F(Async, ACompletedWriteCountsAndCallsOnSendThenTheHandlerOnTheLoopThread)
{
    std::vector<TDeviceEvents> events;
    comm.OnCommEvent = [&](TObject*, TDeviceEvents e) {
        log.push_back("event");
        events.push_back(e);
    };
    const std::thread::id loopThread = std::this_thread::get_id();
    comm.OnSend = [&](TObject*) {
        log.push_back("send " + std::to_string(comm.GetSentCount()));
        EXPECT_EQ(std::this_thread::get_id(), loopThread);
    };
    const HASYNC h = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.SendAsync(h, "hello", 5), 5u);  // all of it went at once
    ASSERT_TRUE(RunUntilDone(h));
    EXPECT_EQ(log, (std::vector<std::string>{"event", "send 5", "done"}));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);
    EXPECT_EQ(done[0].data, nullptr);
    EXPECT_EQ(done[0].count, 5);
    EXPECT_EQ(done[0].thread, std::this_thread::get_id());
    EXPECT_EQ(Written(), "hello");
    EXPECT_TRUE(comm.CloseAsync(h));
}

TEST_F(Async, AStringWriteOwnsItsBytesAndFinishesOnTheWorker)
{
    {
        auto lk = pl.Lock();
        port.writeAccept = 2;  // the device takes two bytes per write
    }
    const HASYNC h = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.SendStringAsync(h, std::string("abc") + "defg"), 0u);  // the temporary is gone at once
    ASSERT_TRUE(RunUntilDone(h));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);
    EXPECT_EQ(done[0].count, 7);
    EXPECT_EQ(Written(), "abcdefg");
    EXPECT_EQ(comm.GetSentCount(), 7u);
    EXPECT_TRUE(comm.CloseAsync(h));
}

TEST_F(Async, ReadsOfQueuedBytesCountAndCallOnReadThenTheHandler)
{
    comm.OnRead = [&](TObject*) { log.push_back("read " + std::to_string(comm.GetTakenOutCount())); };
    pl.Feed("COM2", "abcdef");
    char buf[4] = {};
    const HASYNC h = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.ReadAsync(h, buf, 4), 4u);
    ASSERT_TRUE(RunUntilDone(h));
    EXPECT_EQ(std::string(buf, 4), "abcd");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].data, buf);

    std::string s = "old";
    const HASYNC hs = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.ReadStringAsync(hs, s), 2u);  // what was queued
    ASSERT_TRUE(RunUntilDone(hs));
    EXPECT_EQ(s, "ef");
    EXPECT_EQ(log, (std::vector<std::string>{"read 4", "done", "read 6", "done"}));
    ASSERT_EQ(done.size(), 2u);
    EXPECT_TRUE(done[1].success);
    EXPECT_EQ(done[1].data, &s);
    EXPECT_EQ(done[1].count, 2);

    // Nothing queued: an empty string, done at once.
    const HASYNC he = comm.InitAsync(nullptr, true);
    EXPECT_EQ(comm.ReadStringAsync(he, s), 0u);
    ASSERT_TRUE(loop.RunUntil([&] { return !IsHandleValid(he); }, 5000));
    EXPECT_EQ(s, "");
    EXPECT_TRUE(comm.CloseAsync(h));
    EXPECT_TRUE(comm.CloseAsync(hs));
}

TEST_F(Async, AReadCompletesAtOnceWithWhatIsQueuedAndLeavesLaterBytesQueued)
{
    int reads = 0;
    comm.OnRead = [&](TObject*) { ++reads; };
    pl.Feed("COM2", "abc");
    pl.FeedAt("COM2", pl.Now() + 10, "de");
    const uint32_t start = pl.Now();
    char buf[5] = {};
    const HASYNC h = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.ReadAsync(h, buf, 5), 3u);
    ASSERT_TRUE(RunUntilDone(h));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);  // fewer bytes than asked is no failure
    EXPECT_EQ(done[0].count, 3);
    EXPECT_EQ(std::string(buf, 5), std::string("abc\0\0", 5));
    EXPECT_EQ(pl.Now(), start);  // nothing waited for the later bytes
    EXPECT_EQ(comm.GetTakenOutCount(), 3u);

    // An empty queue: done at once with nothing.
    const HASYNC he = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.ReadAsync(he, buf, 5), 0u);
    ASSERT_TRUE(RunUntilDone(he));
    ASSERT_EQ(done.size(), 2u);
    EXPECT_TRUE(done[1].success);
    EXPECT_EQ(done[1].count, 0);
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(comm.GetTakenOutCount(), 3u);
    pl.Advance(10);
    EXPECT_EQ(comm.GetCount(0), 2u);  // for whoever reads next
    EXPECT_TRUE(comm.CloseAsync(h));
    EXPECT_TRUE(comm.CloseAsync(he));
}

// The port gives a write a second per byte plus 1.5 s in all, counted from its start.
TEST_F(Async, AWriteOnALineHeldByFlowControlGivesUpAfterItsTimeOutWithWhatWent)
{
    int sends = 0;
    comm.OnSend = [&](TObject*) { ++sends; };
    {
        auto lk = pl.Lock();
        port.writeBudget = 2;
    }
    uint32_t start = pl.Now();
    const HASYNC h = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.SendAsync(h, "abcd", 4), 0u);  // not all of it went at once
    ASSERT_TRUE(RunUntilDone(h));
    EXPECT_EQ(pl.Now() - start, 4 * 1000 + 1500u);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);  // a time-out is no failure: the count says what went
    EXPECT_EQ(done[0].count, 2);
    EXPECT_EQ(Written(), "ab");
    EXPECT_EQ(comm.GetSentCount(), 2u);
    EXPECT_EQ(sends, 1);

    start = pl.Now();
    const HASYNC h1 = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.SendAsync(h1, "e", 1), 0u);
    ASSERT_TRUE(RunUntilDone(h1));
    EXPECT_EQ(pl.Now() - start, 1000 + 1500u);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_TRUE(done[1].success);
    EXPECT_EQ(done[1].count, 0);
    EXPECT_EQ(Written(), "ab");
    EXPECT_EQ(comm.GetSentCount(), 2u);
    EXPECT_TRUE(comm.CloseAsync(h));
    EXPECT_TRUE(comm.CloseAsync(h1));
}

TEST_F(Async, ARefusedTransferStillCompletesAsAFailureWithoutCountOrNotification)
{
    comm.OnSend = [&](TObject*) { log.push_back("send"); };
    comm.OnRead = [&](TObject*) { log.push_back("read"); };
    {
        auto lk = pl.Lock();
        port.writeError = EIO;
        port.readError = EIO;
    }
    const HASYNC hw = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.SendAsync(hw, "abc", 3), 0u);
    ASSERT_TRUE(RunUntilDone(hw));
    char buf[2];
    const HASYNC hr = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.ReadAsync(hr, buf, 2), 0u);
    ASSERT_TRUE(RunUntilDone(hr));
    EXPECT_EQ(log, (std::vector<std::string>{"done", "done"}));
    ASSERT_EQ(done.size(), 2u);
    EXPECT_FALSE(done[0].success);
    EXPECT_EQ(done[0].count, 0);
    EXPECT_FALSE(done[1].success);
    EXPECT_EQ(done[1].data, buf);
    EXPECT_EQ(comm.GetSentCount(), 0u);
    EXPECT_EQ(comm.GetTakenOutCount(), 0u);
    EXPECT_TRUE(comm.CloseAsync(hw));
    EXPECT_TRUE(comm.CloseAsync(hr));
}

TEST_F(Async, ARecordMadeBeforeAReopeningNeverReachesTheNewDevice)
{
    const HASYNC h = comm.InitAsync(Recorder(), false);
    comm.CloseDevice();
    comm.OpenDevice();
    pl.Feed("COM2", "zz");
    char buf[2];
    EXPECT_EQ(comm.ReadAsync(h, buf, 2), 0u);
    ASSERT_TRUE(RunUntilDone(h));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_FALSE(done[0].success);
    EXPECT_EQ(comm.GetCount(0), 2u);  // still queued for whoever reads next
    EXPECT_TRUE(comm.CloseAsync(h));
}

TEST_F(Async, ARecordCarriesOneTransferAndTheHandlerMayStartTheNext)
{
    std::vector<HASYNC> handles;
    TAsyncProc next = [&](bool s, void*, int32_t n) {
        done.push_back({s, nullptr, n, std::this_thread::get_id()});
        if (done.size() < 3) {
            handles.push_back(comm.InitAsync(next, true));
            comm.SendAsync(handles.back(), "n", 1);
        }
    };
    const HASYNC h = comm.InitAsync(next, false);
    comm.SendAsync(h, "x", 1);
    ASSERT_TRUE(loop.RunUntil([&] { return done.size() == 3 && AsyncThreadCount() == 0; }, 5000));
    EXPECT_EQ(Written(), "xnn");
    for (HASYNC r : handles) EXPECT_FALSE(IsHandleValid(r));  // released by their workers

    EXPECT_EQ(MessageOf<EAsyncError>([&] { comm.SendAsync(h, "y", 1); }), SHInvalidHandle);
    EXPECT_EQ(Written(), "xnn");
    EXPECT_TRUE(comm.CloseAsync(h));
}

TEST_F(Async, TheWorkersTitleGoesThroughTheLoopThread)
{
    std::vector<std::pair<std::string, std::thread::id>> titles;
    SetApplicationTitleHook([&](const std::string& t) { titles.emplace_back(t, std::this_thread::get_id()); });
    const HASYNC h = comm.InitAsync(nullptr, true);
    comm.SendAsync(h, "x", 1);
    ASSERT_TRUE(loop.RunUntil([&] { return !titles.empty(); }, 5000));
    SetApplicationTitleHook(nullptr);
    EXPECT_EQ(titles[0].first, "Started");
    EXPECT_EQ(titles[0].second, std::this_thread::get_id());
}

TEST_F(Async, AThousandTransfersInARowLeaveNoRecordAndNoWorker)
{
    const size_t records = AsyncRecordCount();
    int completions = 0;
    const TAsyncProc count = [&](bool s, void*, int32_t) { completions += s ? 1 : 0; };
    char c = 0;
    for (int i = 0; i < 1000; ++i) {
        const HASYNC h = comm.InitAsync(count, i % 3 != 0);
        if (i % 2 == 0) {
            comm.SendAsync(h, "w", 1);
        } else {
            pl.Feed("COM2", "r");
            comm.ReadAsync(h, &c, 1);
        }
        if (i % 3 == 0) {
            ASSERT_TRUE(comm.WaitAsync(h, nullptr));
            EXPECT_TRUE(comm.CloseAsync(h));
        } else {
            ASSERT_TRUE(loop.RunUntil([&] { return !IsHandleValid(h); }, 5000));
        }
    }
    EXPECT_EQ(completions, 1000);
    EXPECT_EQ(comm.GetSentCount(), 500u);
    EXPECT_EQ(comm.GetTakenOutCount(), 500u);
    EXPECT_EQ(AsyncRecordCount(), records);
    comm.CloseDevice();  // waits for the workers still on their way out
    EXPECT_EQ(AsyncThreadCount(), 0u);
}
