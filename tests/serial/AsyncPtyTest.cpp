// Asynchronous transfers on a real pseudo-terminal: reads that wait for their last byte (whatever
// receive threshold the events have), writes that wait for room, waits that end early, and ports
// closed or destroyed under running transfers.
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

    Pty pty;
    PosixLoop loop;
    TXComm comm;
    std::vector<SCompletion> done;
};

}  // namespace

TEST_F(AsyncPty, AReadOfNBytesCompletesWhenTheLastOneArrives)
{
    int reads = 0;
    comm.OnRead = [&](TObject*) { ++reads; };
    char buf[5] = {};
    const HASYNC h = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.ReadAsync(h, buf, 5), 0u);
    pty.Write("abc");
    EXPECT_FALSE(loop.RunUntil([&] { return IsAsyncDone(h); }, 100));
    EXPECT_TRUE(done.empty());
    pty.Write("de");
    ASSERT_TRUE(RunUntil([&] { return IsAsyncDone(h); }));
    EXPECT_EQ(std::string(buf, 5), "abcde");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);
    EXPECT_EQ(done[0].data, buf);
    EXPECT_EQ(done[0].count, 5);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(comm.GetTakenOutCount(), 5u);
    EXPECT_TRUE(comm.CloseAsync(h));
}

TEST_F(AsyncPty, AReadIsNotHeldBackByTheReceiveThreshold)
{
    comm.SetReceiveThreshold(50);
    char buf[3] = {};
    const HASYNC h = comm.InitAsync(Recorder(), false);
    comm.ReadAsync(h, buf, 3);
    loop.RunFor(50);  // the worker waits for input by now
    pty.Write("abc");
    ASSERT_TRUE(RunUntil([&] { return IsAsyncDone(h); }));
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_TRUE(comm.CloseAsync(h));
}

TEST_F(AsyncPty, AWriteLargerThanTheLineTakesCompletesWhenTheFarEndHasReadIt)
{
    std::string data(256 * 1024, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
    const HASYNC h = comm.InitAsync(Recorder(), false);
    EXPECT_EQ(comm.SendAsync(h, data.data(), static_cast<uint32_t>(data.size())), 0u);
    EXPECT_FALSE(IsAsyncDone(h));
    EXPECT_EQ(pty.Read(data.size(), 10000), data);
    ASSERT_TRUE(RunUntil([&] { return IsAsyncDone(h); }));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);
    EXPECT_EQ(done[0].count, static_cast<int32_t>(data.size()));
    EXPECT_EQ(comm.GetSentCount(), data.size());
    EXPECT_TRUE(comm.CloseAsync(h));
}

TEST_F(AsyncPty, AWaitStoppedAtOnceLeavesTheTransferRunningAndItsWorkerReleasesTheRecord)
{
    char buf[2];
    const HASYNC h = comm.InitAsync(Recorder(), true);
    comm.ReadAsync(h, buf, 2);
    EXPECT_FALSE(comm.WaitAsync(h, [] { return true; }));
    EXPECT_TRUE(IsHandleValid(h));
    EXPECT_FALSE(comm.CloseAsync(h));  // running: left alone
    pty.Write("xy");
    ASSERT_TRUE(RunUntil([&] { return !IsHandleValid(h); }));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);
    EXPECT_EQ(std::string(buf, 2), "xy");
}

TEST_F(AsyncPty, AWaitServesTheCompletionAndReleasesTheRecordItself)
{
    char c = 0;
    const HASYNC h = comm.InitAsync(Recorder(), true);
    comm.ReadAsync(h, &c, 1);
    int asked = 0;
    EXPECT_TRUE(comm.WaitAsync(h, [&] {
        if (++asked == 1) pty.Write("z");
        return false;
    }));
    EXPECT_FALSE(IsHandleValid(h));
    ASSERT_EQ(done.size(), 1u);  // the completion ran inside the wait
    EXPECT_TRUE(done[0].success);
    EXPECT_EQ(c, 'z');
}

TEST_F(AsyncPty, ALaterInitReplacesTheHandlerOfRunningTransfers)
{
    std::vector<std::string> who;
    char c = 0;
    const HASYNC h = comm.InitAsync([&](bool, void*, int32_t) { who.push_back("first"); }, false);
    comm.ReadAsync(h, &c, 1);
    const HASYNC h2 = comm.InitAsync([&](bool, void*, int32_t) { who.push_back("second"); }, false);
    pty.Write("q");
    ASSERT_TRUE(RunUntil([&] { return IsAsyncDone(h); }));
    EXPECT_EQ(who, std::vector<std::string>{"second"});
    EXPECT_TRUE(comm.CloseAsync(h));
    EXPECT_TRUE(comm.CloseAsync(h2));
}

TEST_F(AsyncPty, ClosingThePortEndsARunningReadAsAFailureAtOnce)
{
    char buf[10];
    const HASYNC h = comm.InitAsync(Recorder(), false);
    comm.ReadAsync(h, buf, 10);
    pty.Write("abc");
    loop.RunFor(50);
    comm.CloseDevice();  // serves the completion while it waits for the worker
    EXPECT_TRUE(IsAsyncDone(h));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_FALSE(done[0].success);
    EXPECT_EQ(done[0].data, buf);
    EXPECT_LE(done[0].count, 3);
    EXPECT_EQ(AsyncThreadCount(), 0u);
    EXPECT_TRUE(comm.CloseAsync(h));
}

TEST_F(AsyncPty, AHandlerMayCloseThePortWhileAnotherTransferRuns)
{
    char one = 0;
    char ten[10];
    std::vector<std::string> log;
    TAsyncProc handler = [&](bool s, void* d, int32_t) {
        if (d == &one) {
            log.push_back("one");
            comm.CloseDevice();  // inside this worker's hand-over, while the other read waits
            log.push_back("closed");
        } else {
            log.push_back(s ? "ten ok" : "ten failed");
        }
    };
    pty.Write("1");
    ASSERT_TRUE(RunUntil([&] { return comm.GetCount(0) == 1; }));
    const HASYNC h1 = comm.InitAsync(handler, true);
    EXPECT_EQ(comm.ReadAsync(h1, &one, 1), 1u);  // its completion waits for the loop
    const HASYNC h10 = comm.InitAsync(handler, true);
    comm.ReadAsync(h10, ten, 10);
    ASSERT_TRUE(RunUntil([&] { return !IsHandleValid(h1) && !IsHandleValid(h10); }));
    EXPECT_FALSE(comm.GetOpened());
    EXPECT_EQ(log, (std::vector<std::string>{"one", "ten failed", "closed"}));
}

TEST_F(AsyncPty, DestroyingThePortUnderARunningReadEndsItWithoutACall)
{
    auto port = std::make_unique<TXComm>();
    port->SetDeviceName(pty.SlavePath());
    comm.CloseDevice();
    port->OpenDevice();
    char buf[4];
    const HASYNC h = port->InitAsync(Recorder(), false);
    port->ReadAsync(h, buf, 4);
    pty.Write("ab");
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
            comm.ReadAsync(h, &c, 1);
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
