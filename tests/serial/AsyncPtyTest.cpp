// Asynchronous transfers on a real pseudo-terminal: reads that end at once with what is queued
// (whatever receive threshold the events have), writes that wait for room until their time-out,
// waits that end early, and ports closed or destroyed under running transfers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/PosixLoop.h"
#include "fakes/Pty.h"
#include "serial/TXComm.h"
#include "serial/XAsync.h"

using namespace rv;
using rv::test::Pty;

namespace {

struct SCompletion {
    bool success;
    void* data;
    int32_t count;
};

class AsyncPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        comm.SetDeviceName(pty.SlavePath());
        comm.OpenDevice();
    }
    void TearDown() override { EXPECT_FALSE(comm.GetDeviceLost()); }

    TAsyncProc Recorder()
    {
        return [this](bool s, void* d, int32_t n) { done.push_back({s, d, n}); };
    }
    bool RunUntil(const std::function<bool()>& cond) { return loop.RunUntil(cond, 5000); }
    // A write far larger than the pseudo-terminal holds: while the far end reads nothing it runs on
    // (its time-out is a second per byte).
    HASYNC StartLongWrite(TAsyncProc P, bool R)
    {
        const HASYNC h = comm.InitAsync(std::move(P), R);
        EXPECT_EQ(comm.SendAsync(h, big.data(), static_cast<uint32_t>(big.size())), 0u);
        EXPECT_FALSE(IsAsyncDone(h));
        return h;
    }
    static std::string Pattern(size_t n)
    {
        std::string data(n, '\0');
        for (size_t i = 0; i < n; ++i) data[i] = static_cast<char>('a' + i % 26);
        return data;
    }

    Pty pty;
    PosixLoop loop;
    TXComm comm;
    std::vector<SCompletion> done;
    const std::string big = Pattern(256 * 1024);
};

}  // namespace

TEST_F(AsyncPty, AReadEndsAtOnceWithWhatIsQueuedWhateverTheReceiveThreshold)
{
    comm.SetReceiveThreshold(50);
    int reads = 0;
    comm.OnRead = [&](TObject*) { ++reads; };
    pty.Write("abc");
    ASSERT_TRUE(RunUntil([&] { return comm.GetCount(0) == 3; }));
    char buf[5] = {};
    const HASYNC h = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.ReadAsync(h, buf, 5), 3u);
    ASSERT_TRUE(RunUntil([&] { return IsAsyncDone(h); }));
    EXPECT_EQ(std::string(buf, 3), "abc");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);
    EXPECT_EQ(done[0].data, buf);
    EXPECT_EQ(done[0].count, 3);

    const HASYNC he = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.ReadAsync(he, buf, 5), 0u);
    ASSERT_TRUE(RunUntil([&] { return IsAsyncDone(he); }));
    ASSERT_EQ(done.size(), 2u);
    EXPECT_TRUE(done[1].success);
    EXPECT_EQ(done[1].count, 0);
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(comm.GetTakenOutCount(), 3u);
    EXPECT_TRUE(comm.CloseAsync(h));
    EXPECT_TRUE(comm.CloseAsync(he));
}

TEST_F(AsyncPty, AWriteLargerThanTheLineTakesCompletesWhenTheFarEndHasReadIt)
{
    const HASYNC h = StartLongWrite(Recorder(), false);
    EXPECT_EQ(pty.Read(big.size(), 10000), big);
    ASSERT_TRUE(RunUntil([&] { return IsAsyncDone(h); }));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);
    EXPECT_EQ(done[0].count, static_cast<int32_t>(big.size()));
    EXPECT_EQ(comm.GetSentCount(), big.size());
    EXPECT_TRUE(comm.CloseAsync(h));
}

// Only a lower bound on the time: the worker cannot give up before its time-out, however loaded
// the machine is.
TEST_F(AsyncPty, AWriteTheFarEndDoesNotTakeGivesUpAfterItsTimeOut)
{
    uint32_t filled = 0;
    for (uint32_t n = 1; n > 0; filled += n) n = comm.SendDataEx(big.data(), static_cast<uint32_t>(big.size()), 100);
    ASSERT_LT(filled, big.size());  // the line is full: the last call moved nothing in 100 ms
    const uint32_t start = comm.GetPlatform().TickCount();
    const HASYNC h = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.SendAsync(h, "x", 1), 0u);
    ASSERT_TRUE(loop.RunUntil([&] { return IsAsyncDone(h); }, 60000));
    EXPECT_GE(comm.GetPlatform().TickCount() - start, 1000 + 1500u);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);
    EXPECT_EQ(done[0].count, 0);
    EXPECT_EQ(comm.GetSentCount(), filled);
    EXPECT_TRUE(comm.CloseAsync(h));
}

TEST_F(AsyncPty, AWaitStoppedAtOnceLeavesTheTransferRunningAndItsWorkerReleasesTheRecord)
{
    const HASYNC h = StartLongWrite(Recorder(), true);
    EXPECT_FALSE(comm.WaitAsync(h, [] { return true; }));
    EXPECT_TRUE(IsHandleValid(h));
    EXPECT_FALSE(comm.CloseAsync(h));  // running: left alone
    EXPECT_EQ(pty.Read(big.size(), 10000), big);
    ASSERT_TRUE(RunUntil([&] { return !IsHandleValid(h); }));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);
    EXPECT_EQ(done[0].count, static_cast<int32_t>(big.size()));
}

TEST_F(AsyncPty, AWaitServesTheCompletionAndReleasesTheRecordItself)
{
    pty.Write("z");
    ASSERT_TRUE(RunUntil([&] { return comm.GetCount(0) == 1; }));
    char c = 0;
    const HASYNC h = comm.InitAsync(Recorder(), true);
    EXPECT_EQ(comm.ReadAsync(h, &c, 1), 1u);
    EXPECT_TRUE(done.empty());  // the completion call waits for the loop
    EXPECT_TRUE(comm.WaitAsync(h, [] { return false; }));
    EXPECT_FALSE(IsHandleValid(h));
    ASSERT_EQ(done.size(), 1u);  // the completion ran inside the wait
    EXPECT_TRUE(done[0].success);
    EXPECT_EQ(c, 'z');
}

TEST_F(AsyncPty, ALaterInitReplacesTheHandlerOfRunningTransfers)
{
    std::vector<std::string> who;
    const HASYNC h = StartLongWrite([&](bool, void*, int32_t) { who.push_back("first"); }, false);
    const HASYNC h2 = comm.InitAsync([&](bool, void*, int32_t) { who.push_back("second"); }, false);
    EXPECT_EQ(pty.Read(big.size(), 10000), big);
    ASSERT_TRUE(RunUntil([&] { return IsAsyncDone(h); }));
    EXPECT_EQ(who, std::vector<std::string>{"second"});
    EXPECT_TRUE(comm.CloseAsync(h));
    EXPECT_TRUE(comm.CloseAsync(h2));
}

TEST_F(AsyncPty, ClosingThePortEndsARunningWriteAsAFailureAtOnce)
{
    const HASYNC h = StartLongWrite(Recorder(), false);
    loop.RunFor(50);
    comm.CloseDevice();  // serves the completion while it waits for the worker
    EXPECT_TRUE(IsAsyncDone(h));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_FALSE(done[0].success);
    EXPECT_EQ(done[0].data, nullptr);
    EXPECT_LT(done[0].count, static_cast<int32_t>(big.size()));
    EXPECT_EQ(AsyncThreadCount(), 0u);
    EXPECT_TRUE(comm.CloseAsync(h));
}

TEST_F(AsyncPty, AHandlerMayCloseThePortWhileAnotherTransferRuns)
{
    char one = 0;
    std::vector<std::string> log;
    TAsyncProc handler = [&](bool s, void* d, int32_t) {
        if (d == &one) {
            log.push_back("one");
            comm.CloseDevice();  // inside this worker's hand-over, while the write waits for room
            log.push_back("closed");
        } else {
            log.push_back(s ? "write ok" : "write failed");
        }
    };
    pty.Write("1");
    ASSERT_TRUE(RunUntil([&] { return comm.GetCount(0) == 1; }));
    const HASYNC h1 = comm.InitAsync(handler, true);
    EXPECT_EQ(comm.ReadAsync(h1, &one, 1), 1u);  // its completion waits for the loop
    const HASYNC hw = StartLongWrite(handler, true);
    ASSERT_TRUE(RunUntil([&] { return !IsHandleValid(h1) && !IsHandleValid(hw); }));
    EXPECT_FALSE(comm.GetOpened());
    EXPECT_EQ(log, (std::vector<std::string>{"one", "write failed", "closed"}));
}

TEST_F(AsyncPty, DestroyingThePortUnderARunningWriteEndsItWithoutACall)
{
    auto port = std::make_unique<TXComm>();
    port->SetDeviceName(pty.SlavePath());
    comm.CloseDevice();
    port->OpenDevice();
    const HASYNC h = port->InitAsync(Recorder(), false);
    port->SendAsync(h, big.data(), static_cast<uint32_t>(big.size()));
    EXPECT_FALSE(IsAsyncDone(h));
    port.reset();
    EXPECT_TRUE(IsAsyncDone(h));
    EXPECT_TRUE(done.empty());  // the port is gone: nothing to tell
    EXPECT_EQ(AsyncThreadCount(), 0u);
    EXPECT_TRUE(InternalCloseAsync(h));
}

TEST_F(AsyncPty, AThousandTransfersInARowBothWays)
{
    const size_t records = AsyncRecordCount();
    int ok = 0;
    const TAsyncProc count = [&](bool s, void*, int32_t) { ok += s ? 1 : 0; };
    char c = 0;
    for (int i = 0; i < 1000; ++i) {
        const HASYNC h = comm.InitAsync(count, true);
        if (i % 2 == 0) {
            comm.SendAsync(h, "w", 1);
        } else {
            pty.Write("r");
            ASSERT_TRUE(RunUntil([&] { return comm.GetCount(0) == 1; }));  // a read takes what is there
            EXPECT_EQ(comm.ReadAsync(h, &c, 1), 1u);
        }
        ASSERT_TRUE(RunUntil([&] { return !IsHandleValid(h); }));
    }
    EXPECT_EQ(pty.Read(500, 5000), std::string(500, 'w'));
    EXPECT_EQ(ok, 1000);
    EXPECT_EQ(comm.GetSentCount(), 500u);
    EXPECT_EQ(comm.GetTakenOutCount(), 500u);
    EXPECT_EQ(AsyncRecordCount(), records);
    comm.CloseDevice();
    EXPECT_EQ(AsyncThreadCount(), 0u);
}
