// Reads and writes against the scripted platform in virtual time: the time-out rules to the
// millisecond, chunking to the output room, the callback lock, the order of the notifications,
// and the text wait.
#include <gtest/gtest.h>

#include <stdexcept>

#include "core/VirtualLoop.h"
#include "fakes/FakeSerialPlatform.h"
#include "serial/CommErrors.h"
#include "serial/DeviceErrorOf.h"
#include "serial/TXComm.h"

using namespace rv;
using rv::test::FakePort;
using rv::test::FakeSerialPlatform;
using rv::test::CodeOf;

namespace {

class CommIO : public ::testing::Test {
protected:
    void SetUp() override { comm.OpenDevice(); }

    FakePort& P() { return pl.Port("COM2"); }
    std::string Written()
    {
        auto lk = pl.Lock();
        return std::string(P().written.begin(), P().written.end());
    }

    FakeSerialPlatform pl;
    FakePort& port = pl.AddPort("COM2");
    TXComm comm{nullptr, &pl};
};

}  // namespace

TEST_F(CommIO, ReadTimesOutFromTheStartOfTheCallNotFromTheLastByte)
{
    char buf[8] = {};
    uint32_t start = pl.Now();
    EXPECT_EQ(comm.ReadData(buf, 5), 0u);
    EXPECT_EQ(pl.Now() - start, 501u);  // InputTimeout 500, "exceeded" is strictly more

    pl.Feed("COM2", "abc");
    start = pl.Now();
    EXPECT_EQ(comm.ReadData(buf, 5), 3u);
    EXPECT_EQ(pl.Now() - start, 501u);
    EXPECT_EQ(std::string(buf, 3), "abc");

    start = pl.Now();
    EXPECT_EQ(comm.ReadDataEx(buf, 1, 0), 0u);
    EXPECT_EQ(pl.Now() - start, 1u);  // as soon as the tick has moved past the start

    start = pl.Now();
    pl.FeedAt("COM2", start + 100, "12");
    pl.FeedAt("COM2", start + 300, "345");
    EXPECT_EQ(comm.ReadData(buf, 5), 5u);
    EXPECT_EQ(pl.Now() - start, 300u);  // done when the last byte came, no waiting after it
    EXPECT_EQ(std::string(buf, 5), "12345");

    start = pl.Now();
    pl.FeedAt("COM2", start + 450, "xy");
    EXPECT_EQ(comm.ReadData(buf, 5), 2u);
    EXPECT_EQ(pl.Now() - start, 501u);
    EXPECT_EQ(comm.GetTotalReceived(), 10u);
}

TEST_F(CommIO, AVanishingDeviceEndsAReadAtOnceWithWhatCame)
{
    char buf[8];
    pl.Feed("COM2", "ab");
    pl.OnWait = [&] { pl.FailDevice("COM2"); };
    const uint32_t start = pl.Now();
    EXPECT_EQ(comm.ReadData(buf, 5), 2u);
    EXPECT_EQ(pl.Now(), start);
}

TEST_F(CommIO, WritesGoInPiecesThatFitTheOutputRoom)
{
    EXPECT_EQ(comm.SendData("0123456789", 10), 10u);
    {
        auto lk = pl.Lock();
        EXPECT_EQ(P().writeCalls, std::vector<uint32_t>{10});
        P().outQueue = 2040;  // 8 bytes of room left in OutputSize 2048
    }
    EXPECT_EQ(comm.SendData("abcdefghij", 10), 10u);
    {
        auto lk = pl.Lock();
        EXPECT_EQ(P().writeCalls, (std::vector<uint32_t>{10, 8, 2}));
        P().outQueue = 5000;  // fuller than OutputSize: the room wraps, the rest goes in one piece
    }
    EXPECT_EQ(comm.SendData("ABCDEFGHIJ", 10), 10u);
    {
        auto lk = pl.Lock();
        EXPECT_EQ(P().writeCalls.back(), 10u);
        P().outQueue = 0;
        P().writeAccept = 4;  // the device takes a little at a time
    }
    EXPECT_EQ(comm.SendData("klmnopqrst", 10), 10u);
    EXPECT_EQ(Written(), "0123456789abcdefghijABCDEFGHIJklmnopqrst");
    EXPECT_EQ(comm.GetSentCount(), 40u);
}

TEST_F(CommIO, AWriteThatCannotProceedGivesUpAfterItsTimeout)
{
    {
        auto lk = pl.Lock();
        P().outQueue = 2048;  // no room at all
    }
    int sends = 0;
    comm.OnSend = [&](TObject*) { ++sends; };
    size_t outEmpty = 0;
    comm.OnCommEvent = [&](TObject*, TDeviceEvents ev) { outEmpty += ev == TDeviceEvents{deOutEmpty} ? 1 : 0; };
    uint32_t start = pl.Now();
    EXPECT_EQ(comm.SendDataEx("abc", 3, 200), 0u);
    EXPECT_EQ(pl.Now() - start, 201u);
    {
        auto lk = pl.Lock();
        EXPECT_TRUE(P().writeCalls.empty());
        P().outQueue = 0;
        P().writeAccept = 0;  // room, but the device refuses every byte
    }
    EXPECT_EQ(outEmpty, 0u);  // no room: nothing written, nothing reported
    start = pl.Now();
    EXPECT_EQ(comm.SendData("abc", 3), 0u);
    EXPECT_EQ(pl.Now() - start, 501u);
    EXPECT_EQ(sends, 0);
    {
        // Every write reports the output empty, whatever it moved.
        auto lk = pl.Lock();
        EXPECT_GE(P().writeCalls.size(), 1u);
        EXPECT_EQ(outEmpty, P().writeCalls.size());
    }
    EXPECT_TRUE(comm.SendString(""));
}

TEST_F(CommIO, TransferFailuresCarryTheSystemError)
{
    {
        auto lk = pl.Lock();
        P().writeError = EIO;
    }
    try {
        comm.SendByte(0x55);
        FAIL();
    } catch (const EDeviceError& e) {
        EXPECT_EQ(e.ErrorCode, 11);
        EXPECT_EQ(std::string(e.what()).rfind("Не способен записать в порт. (Win32 error 5: ", 0), 0u) << e.what();
    }
    pl.Feed("COM2", "x");
    {
        auto lk = pl.Lock();
        P().readError = EIO;
    }
    uint8_t b = 0;
    try {
        comm.ReadByte(b);
        FAIL();
    } catch (const EDeviceError& e) {
        EXPECT_EQ(e.ErrorCode, 10);
        EXPECT_EQ(std::string(e.what()).rfind("Не способен считать из порта. (Win32 error 5: ", 0), 0u) << e.what();
    }
}

TEST_F(CommIO, SendRaisesOutEmptyThenOnSend)
{
    std::vector<std::string> log;
    comm.OnCommEvent = [&](TObject* s, TDeviceEvents ev) {
        EXPECT_EQ(s, &comm);
        log.push_back("event " + std::to_string(ev.ToBits()));
    };
    comm.OnSend = [&](TObject*) { log.push_back("send"); };
    EXPECT_EQ(comm.SendData("0123456789", 10), 10u);
    EXPECT_EQ(log, (std::vector<std::string>{"event 4", "send"}));

    log.clear();
    comm.SetMonitorEvents({deChar});
    EXPECT_TRUE(comm.SendString("ab"));
    EXPECT_EQ(log, std::vector<std::string>{"send"});
}

TEST_F(CommIO, DataComesBeforeTheEventAndOnlyMonitoredEventsAreRaised)
{
    std::vector<std::string> log;
    comm.OnData = [&](TObject* s, uint32_t n) {
        EXPECT_EQ(s, &comm);
        log.push_back("data " + std::to_string(n));
    };
    comm.OnCommEvent = [&](TObject*, TDeviceEvents ev) { log.push_back("event " + std::to_string(ev.ToBits())); };
    comm.SetMonitorEvents({deChar});
    pl.Feed("COM2", "abc");
    comm.HandleEvents({deChar, deCTS});
    EXPECT_EQ(log, (std::vector<std::string>{"data 3", "event 1"}));

    log.clear();
    comm.HandleEvents({deCTS});  // not monitored, and no data
    comm.HandleEvents({deFlag});  // the event character counts as data
    EXPECT_EQ(log, (std::vector<std::string>{"data 3"}));

    log.clear();
    comm.SetMonitorEvents({deChar, deCTS});
    comm.OnData = [&](TObject*, uint32_t n) {  // a handler that takes the data closes the port
        log.push_back("data " + std::to_string(n));
        comm.CloseDevice();
    };
    comm.HandleEvents({deChar, deCTS});
    EXPECT_EQ(log, (std::vector<std::string>{"data 3"}));
}

TEST_F(CommIO, CallbackLockRefusesTransfersInsideOnReadAndOnSendButNotInsideOnData)
{
    char buf[4];
    pl.Feed("COM2", "abcd");
    comm.OnRead = [&](TObject*) {
        EXPECT_TRUE(comm.GetLocked());
        std::string message;
        EXPECT_EQ(CodeOf([&] { comm.ReadData(buf, 1); }, &message), 5);
        EXPECT_EQ(message, "Устройство закрыто. Не возможно произвести чтение.");
        EXPECT_EQ(CodeOf([&] { comm.SendData("x", 1); }, &message), 4);
        EXPECT_EQ(message, "Устройство закрыто. Не возможно произвести запись.");
        EXPECT_EQ(CodeOf([&] { comm.WaitForString({"x"}, 1); }, &message), 5);
        EXPECT_EQ(message, "Устройство закрыто. Не возможно произвести чтение.");
    };
    EXPECT_EQ(comm.ReadData(buf, 1), 1u);
    comm.OnRead = [&](TObject*) { throw std::runtime_error("handler"); };
    EXPECT_THROW(comm.ReadData(buf, 1), std::runtime_error);
    EXPECT_FALSE(comm.GetLocked());  // cleared although the handler raised
    comm.OnRead = nullptr;

    comm.OnSend = [&](TObject*) { EXPECT_EQ(CodeOf([&] { comm.SendByte(1); }), 4); };
    EXPECT_TRUE(comm.SendByte(2));
    comm.OnSend = nullptr;

    std::string got;
    comm.OnData = [&](TObject*, uint32_t n) {
        got.resize(n);
        got.resize(comm.ReadData(got.data(), n));
    };
    comm.HandleEvents({deChar});
    EXPECT_EQ(got, "cd");
}

TEST_F(CommIO, ReadStringTakesWhatIsQueuedOrNothing)
{
    std::string s = "keep";
    pl.Feed("COM2", "abcd");
    EXPECT_FALSE(comm.ReadString(s, 5));
    EXPECT_EQ(s, "keep");
    EXPECT_FALSE(comm.ReadString(s, 0));
    EXPECT_TRUE(comm.ReadString(s, 3));
    EXPECT_EQ(s, "abc");
    EXPECT_TRUE(comm.ReadString(s));
    EXPECT_EQ(s, "d");
    EXPECT_FALSE(comm.ReadString(s));
    EXPECT_EQ(s, "");
}

TEST_F(CommIO, WaitForStringFindsTheFirstListedTextAndConsumesOnlyUpToIt)
{
    uint32_t start = pl.Now();
    pl.FeedAt("COM2", start + 50, "xxO");
    pl.FeedAt("COM2", start + 70, "K\r\r0\rtail");
    EXPECT_TRUE(comm.WaitForString({"\r0\r", "OK\r"}, 1000));
    EXPECT_EQ(pl.Now() - start, 70u);
    EXPECT_EQ(comm.GetCount(0), 7u);  // "\r0\rtail" is still queued

    EXPECT_TRUE(comm.WaitForString({"OK\r", "\r0\r"}, 1000));
    EXPECT_EQ(comm.GetCount(0), 4u);

    start = pl.Now();
    EXPECT_FALSE(comm.WaitForString({"", "zz"}, 250));  // an empty text never matches
    EXPECT_EQ(pl.Now() - start, 250u);                   // "at least Timeout" ends it
    EXPECT_EQ(comm.GetCount(0), 0u);
}

TEST_F(CommIO, WaitForStringSilencesDataEventsWhileItRuns)
{
    int data = 0;
    comm.OnData = [&](TObject*, uint32_t) { ++data; };
    comm.OnCommEvent = [&](TObject*, TDeviceEvents) { ++data; };
    pl.OnWait = [&] { comm.HandleEvents({deChar}); };  // an event arriving during the wait
    pl.FeedAt("COM2", pl.Now() + 30, "OK\r");
    EXPECT_TRUE(comm.WaitForString({"OK\r"}, 100));
    EXPECT_EQ(data, 0);
    pl.OnWait = nullptr;
    comm.HandleEvents({deChar});
    EXPECT_EQ(data, 2);
}

TEST_F(CommIO, WaitForStringWithoutLimitEndsWhenTheApplicationEndsOrTheDeviceFails)
{
    comm.CloseDevice();
    VirtualLoop loop;
    comm.OpenDevice();  // takes the loop
    int waits = 0;
    pl.OnWait = [&] {
        if (++waits == 5) loop.Terminate();
    };
    EXPECT_FALSE(comm.WaitForString({"OK\r"}, 0));
    EXPECT_EQ(waits, 5);

    comm.CloseDevice();
    VirtualLoop fresh;
    comm.OpenDevice();
    waits = 0;
    pl.OnWait = [&] {
        if (++waits == 3) pl.FailDevice("COM2");
    };
    EXPECT_FALSE(comm.WaitForString({"OK\r"}, 0));
    EXPECT_EQ(waits, 3);
    comm.CloseDevice();  // before the loops go
}
