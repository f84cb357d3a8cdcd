// The engine's decoders, properties, line set-up, trace and statistics against the scripted link.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "protocol/TraceFormat.h"

namespace rv::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Payload(size_t n, uint8_t seed = 0)
{
    Bytes p(n);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(seed + i * 7);
    return p;
}

// Records what the engine reports.
struct Outcome {
    std::vector<Bytes> executed;
    std::vector<int> repetitions;
    int timeOuts = 0;
    int falseCRC = 0;

    void Attach(TRurIvaQs& e)
    {
        e.OnReceiveExecuted = [this](short len, unsigned char* buf) { executed.emplace_back(buf, buf + len); };
        e.OnRepetition = [this](int n) { repetitions.push_back(n); };
        e.OnTimeOut = [this](TObject*) { ++timeOuts; };
        e.OnFalseCRC = [this](TObject*) { ++falseCRC; };
    }
};

class Decoders : public EngineTest {
protected:
    Decoders() { out.Attach(engine); }
    Outcome out;
};

TEST_F(Decoders, FramedAnswerOfAnyLegalLengthIsDelivered)
{
    for (size_t n : {size_t{0}, size_t{1}, size_t{100}, size_t{250}}) {
        SCOPED_TRACE(n);
        out.executed.clear();
        engine.ReadFlashLarge(0x100, static_cast<unsigned char>(n));
        Send();
        link.Deliver(FramedAnswer(Payload(n), 0xA5));
        ASSERT_EQ(out.executed.size(), 1u);
        EXPECT_EQ(out.executed[0], Payload(n));
        EXPECT_EQ(engine.GetReceivePhase(), 2);
    }
    EXPECT_EQ(out.falseCRC, 0);
}

TEST_F(Decoders, EchoThenAnswerInArbitraryPieces)
{
    engine.SetReceiving_back(true);
    engine.ReadFlash(0x1234, 100);
    Send();
    EXPECT_EQ(link.lengthPacket, 9);
    Bytes line = link.Frames().back();
    const Bytes answer = FramedAnswer(Payload(100, 3), 0x77);
    line.insert(line.end(), answer.begin(), answer.end());
    ASSERT_EQ(line.size(), 9u + 105u);
    for (size_t chunk : {size_t{1}, size_t{2}, size_t{7}, size_t{64}, line.size()}) {
        SCOPED_TRACE(chunk);
        out.executed.clear();
        engine.ReadFlash(0x1234, 100);
        Send();
        link.Deliver(line, chunk);
        ASSERT_EQ(out.executed.size(), 1u);
        EXPECT_EQ(out.executed[0], Payload(100, 3));
    }
}

TEST_F(Decoders, AnswerToAnotherStationIsNeverDelivered)
{
    engine.SetRepetition(false);
    engine.ReadFlash(0x10, 4);
    Send();
    // Right checksum, wrong destination: dropped as a head, and its remaining bytes are heads too.
    link.Deliver(FramedAnswer(Payload(4), 0, 0xF1));
    EXPECT_TRUE(out.executed.empty());
    EXPECT_GE(engine.GetStatistics().Dropped, 1u);
    EXPECT_EQ(engine.GetReceivePhase(), 1);
    loop.RunFor(1000);
    EXPECT_EQ(out.timeOuts, 1);
}

TEST_F(Decoders, BadChecksumWithoutRepetitionEndsTheRequest)
{
    engine.SetRepetition(false);
    engine.ReadFlash(0x10, 4);
    Send();
    Bytes a = FramedAnswer(Payload(4));
    a.back() ^= 0x01;
    link.Deliver(a);
    EXPECT_EQ(out.falseCRC, 1);
    EXPECT_TRUE(out.executed.empty());
    loop.RunFor(5000);
    EXPECT_EQ(out.timeOuts, 0);
    EXPECT_TRUE(out.repetitions.empty());
    EXPECT_EQ(link.FrameCount(), 1u);
}

TEST_F(Decoders, BadChecksumWithRepetitionSendsTheSameFrameAgain)
{
    engine.SetReceiving_back(true);
    engine.ReadFlash(0x10, 4);
    Send();
    const Bytes frame = link.Frames().back();
    Bytes line = frame;
    Bytes a = FramedAnswer(Payload(4));
    a[2] ^= 0x40;  // payload changed, checksum kept
    line.insert(line.end(), a.begin(), a.end());
    link.Deliver(line);
    EXPECT_EQ(out.falseCRC, 1);
    EXPECT_EQ(out.repetitions, std::vector<int>{1});
    EXPECT_EQ(engine.GetReceivePhase(), 0);
    EXPECT_EQ(link.lengthPacket, 9);
    loop.RunFor(engine.GetTimePackage());
    ASSERT_EQ(link.FrameCount(), 2u);
    EXPECT_EQ(link.Frames().back(), frame);
    // The retry is answered correctly.
    line = frame;
    a = FramedAnswer(Payload(4));
    line.insert(line.end(), a.begin(), a.end());
    link.Deliver(line);
    ASSERT_EQ(out.executed.size(), 1u);
    EXPECT_EQ(out.executed[0], Payload(4));
}

TEST_F(Decoders, LengthBeyondAFrameIsACorruptAnswer)
{
    // L = 253: the body is 256 bytes, more than a one-byte count can sum. It is taken whole (so the
    // line stays in step) and rejected, whatever its checksum bytes say.
    engine.SetRepetition(false);
    engine.ReadFlash(0x10, 250);
    Send();
    Bytes a(258, 0x00);
    a[0] = kMaster;
    a[1] = 253;
    link.Deliver(a);
    EXPECT_EQ(out.falseCRC, 1);
    EXPECT_TRUE(out.executed.empty());
}

TEST_F(Decoders, ReadWithoutHandlerStopsItsTimerAndRaisesNothing)
{
    engine.OnReceiveExecuted = nullptr;
    engine.ReadFlash(0x10, 4);
    Send();
    Bytes a = FramedAnswer(Payload(4));
    a.back() ^= 0xFF;  // not even tested
    link.Deliver(a);
    loop.RunFor(10000);
    EXPECT_EQ(out.timeOuts + out.falseCRC, 0);
    EXPECT_TRUE(out.repetitions.empty());
    EXPECT_EQ(link.FrameCount(), 1u);
}

TEST_F(Decoders, IdentityRecordIsDecodedFromLittleEndianBytes)
{
    std::vector<SIDDevice> ids;
    engine.OnReceivedIDDevice = [&](const SIDDevice* d) { ids.push_back(*d); };
    const Bytes record = {0x34, 0x12, 0xC8, 0x00, 1, 2, 3, 4, 0x78, 0x56, 0x34, 0x12, 0xCD, 0xAB};
    engine.SetReceiving_back(true);
    engine.GetDeviceID();
    Send();
    Bytes line = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};  // any echo is accepted
    Bytes a = FramedAnswer(record);
    a[1] = 0x99;  // byte 1 is covered by the sum, but the sum always spans 17 bytes
    PutU16(a.data() + 17, CRC(a.data(), 17));
    line.insert(line.end(), a.begin(), a.end());
    link.Deliver(line);
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(ids[0].Value0, 0x1234);
    EXPECT_EQ(ids[0].Version, 200);
    EXPECT_EQ(ids[0].Value4, 0x04030201u);
    EXPECT_EQ(ids[0].SerialNumber, 0x12345678u);
    EXPECT_EQ(ids[0].Value12, 0xABCD);
    EXPECT_EQ(Bytes(ids[0].Raw, ids[0].Raw + 14), record);

    a.back() ^= 1;
    engine.GetDeviceID();
    Send();
    line = link.Frames().back();
    line.insert(line.end(), a.begin(), a.end());
    link.Deliver(line);
    EXPECT_EQ(out.falseCRC, 1);
    EXPECT_EQ(ids.size(), 1u);
}

TEST_F(Decoders, IdentityWithoutHandlerTimesOutAndRetries)
{
    engine.GetDeviceID();
    Send();
    link.Deliver(FramedAnswer(Payload(14)));
    loop.RunFor(1001);
    EXPECT_EQ(out.repetitions, std::vector<int>{1});
    EXPECT_EQ(link.FrameCount(), 2u);
}

TEST_F(Decoders, AcknowledgeAndEveryFurtherByteAreDelivered)
{
    engine.SetReceiving_back(true);
    engine.KeyPress(5);
    Send();
    link.Deliver({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});  // 7 bytes of echo, any content
    EXPECT_TRUE(out.executed.empty());
    link.Deliver({0x06, 0x15, 0x80});
    ASSERT_EQ(out.executed.size(), 3u);
    EXPECT_EQ(out.executed[0], Bytes{0x06});
    EXPECT_EQ(out.executed[2], Bytes{0x80});
    loop.RunFor(5000);
    EXPECT_TRUE(out.repetitions.empty());
}

TEST_F(Decoders, ModuleCounterIsASignedByteWithoutChecksum)
{
    std::vector<int> counts;
    engine.OnReceiveModuleCounter = [&](int n) { counts.push_back(n); };
    engine.GetModuleCounter(0x1400);
    Send();
    link.Deliver({0xF1, 0x00, 0x05, 0x00, 0x00, 0x00});  // another station: ignored
    link.Deliver({kMaster, 0x77, 0xFF, 0x12, 0x34, 0x56});
    EXPECT_EQ(counts, std::vector<int>{-1});
    loop.RunFor(5000);
    EXPECT_TRUE(out.repetitions.empty());
}

TEST_F(Decoders, ShortPacketsAreNeverReadPast)
{
    // A link that cuts short (fewer bytes than LengthPacket) must not make a decoder read beyond Size.
    engine.ReadFlash(0x10, 100);
    Send();
    uint8_t one[1] = {kMaster};
    engine.ReceivedData(one, 1);
    EXPECT_EQ(engine.GetReceivePhase(), 1);
    uint8_t head[2] = {kMaster, 100};
    engine.ReceivedData(head, 2);
    ASSERT_EQ(engine.GetReceivePhase(), 2);
    std::vector<uint8_t> partial(50, 0);
    engine.ReceivedData(partial.data(), static_cast<int>(partial.size()));
    engine.GetDeviceID();
    engine.ReceivedIDDevice(one, 1);
    engine.OnReceivedIDDevice = [](const SIDDevice*) { FAIL(); };
    engine.ReceivedIDDevice(one, 1);
    engine.GetModuleCounter(0x1000);
    engine.OnReceiveModuleCounter = [](int) { FAIL(); };
    engine.ReciveMC(one, 1);
    engine.OnlyTransmit(nullptr, 0);
    EXPECT_TRUE(out.executed.empty());
}

TEST_F(Decoders, ChainedRequestFromTheAnswerHandler)
{
    // The handler saves nothing and sends the next read at once, inside the packet call.
    std::vector<Bytes> got;
    int step = 0;
    engine.OnReceiveExecuted = [&](short len, unsigned char* buf) {
        got.emplace_back(buf, buf + len);
        if (++step < 3) engine.ReadFlashLarge(0x100 + 100u * step, 100);
    };
    engine.SetReceiving_back(true);
    link.echo = true;
    int served = 0;
    link.responder = [&](const Bytes&) { return FramedAnswer(Payload(100, static_cast<uint8_t>(served++))); };
    engine.ReadFlash(0x100, 100);
    loop.RunFor(1000);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2], Payload(100, 2));
    EXPECT_EQ(link.FrameCount(), 3u);
}

TEST_F(Decoders, ReceiveHandlerCanBeSavedAndPutBack)
{
    int mine = 0;
    TRurIvaQs::TReceiveExecutedEvent saved = engine.ExchangeOnReceiveExecuted([&](short, unsigned char*) { ++mine; });
    engine.ReadFlash(0x10, 1);
    Send();
    link.Deliver(FramedAnswer({0x42}));
    EXPECT_EQ(mine, 1);
    engine.SetOnReceiveExecuted(std::move(saved));
    engine.ReadFlash(0x10, 1);
    Send();
    link.Deliver(FramedAnswer({0x43}));
    EXPECT_EQ(mine, 1);
    ASSERT_EQ(out.executed.size(), 1u);
    EXPECT_EQ(out.executed[0], Bytes{0x43});
}

TEST_F(Decoders, RefusedSendBehavesAsASilentDevice)
{
    std::vector<std::string> errors;
    engine.OnTransmitError = [&](const std::exception& e) { errors.emplace_back(e.what()); };
    link.failSends = true;
    engine.ReadFlash(0x10, 1);
    loop.RunFor(1001 + 1001 + 1);
    EXPECT_EQ(errors.size(), 3u);
    EXPECT_EQ(out.repetitions, (std::vector<int>{1, 2}));
    EXPECT_EQ(engine.GetStatistics().TransmitErrors, 3u);
    link.failSends = false;
    loop.RunFor(1001 + 100);  // the retry, woken: its frame goes after the pause
    EXPECT_EQ(link.FrameCount(), 1u);
}

TEST(EngineProperties, AddressesRefuseReservedValues)
{
    VirtualLoop loop;
    TRurIvaQs e(nullptr, &loop);
    EXPECT_EQ(e.GetMasterNetAddress(), 0xF0);
    EXPECT_EQ(e.GetSlaveNetAddress(), 7);
    EXPECT_EQ(e.GetTimeOut(), 1000);
    EXPECT_EQ(e.GetTimePackage(), 1);
    EXPECT_TRUE(e.GetRepetition());
    EXPECT_EQ(e.GetWorkType(), wtNet4800);
    e.SetMasterNetAddress(0);
    e.SetMasterNetAddress(255);
    EXPECT_EQ(e.GetMasterNetAddress(), 0xF0);
    e.SetMasterNetAddress(254);
    EXPECT_EQ(e.GetMasterNetAddress(), 254);
    e.SetSlaveNetAddress(0);
    e.SetSlaveNetAddress(239);
    e.SetSlaveNetAddress(255);
    EXPECT_EQ(e.GetSlaveNetAddress(), 7);
    e.SetSlaveNetAddress(238);
    EXPECT_EQ(e.GetSlaveNetAddress(), 238);
    e.SetTimeOut(0);
    e.SetTimePackage(-5);
    EXPECT_EQ(e.GetTimeOut(), 1);
    EXPECT_EQ(e.GetTimePackage(), 1);
}

TEST(EngineProperties, InitializationAppliesTheLineType)
{
    VirtualLoop loop;
    ScriptedLink link(&loop);
    TRurIvaQs e(nullptr, &loop);
    e.SetDeviceComm(&link);
    struct Case {
        TWorkType type;
        TBaudRate baud;
        bool irda;
    };
    for (const Case& c : {Case{wtNet4800, br4800, false}, Case{wtNet115200, br115200, false},
                          Case{wtIrDA, br115200, true}, Case{wtNet9600, br9600, false}}) {
        link.irda = !c.irda;
        e.SetWorkType(c.type);
        EXPECT_TRUE(e.Initialization());
        EXPECT_EQ(link.baud, c.baud);
        EXPECT_EQ(link.irda, c.irda);
        EXPECT_FALSE(link.onModemConnect.Assigned());
    }
    // An open link is left alone.
    link.open = true;
    link.baud = br256000;
    EXPECT_FALSE(e.Initialization());
    EXPECT_EQ(link.baud, br256000);
    link.open = false;

    // Modem: the link's modem events and raw receive reach this component's handlers.
    std::vector<std::string> events;
    e.OnModemConnect = [&](TObject* s) { events.push_back(s == &e ? "connect" : "?"); };
    e.OnModemDisconnect = [&](TObject* s) { events.push_back(s == &e ? "disconnect" : "?"); };
    e.OnModemCommand = [&](void* buf, int n) { events.emplace_back(static_cast<const char*>(buf), n); };
    e.SetWorkType(wtModem);
    EXPECT_TRUE(e.Initialization());
    EXPECT_EQ(link.baud, br4800);
    EXPECT_EQ(link.receiveType, rtAll);
    link.onModemConnect(nullptr);
    link.Deliver({'O', 'K', '\r'});
    link.onModemDisconnect(nullptr);
    EXPECT_EQ(events, (std::vector<std::string>{"connect", "OK\r", "disconnect"}));

    e.ModemCommand("ATZ");
    ASSERT_EQ(link.modemCommands.size(), 1u);
    ASSERT_EQ(link.writes.size(), 1u);  // the wake-up byte before the command
    EXPECT_EQ(link.writes[0].bytes, Bytes{0x00});
}

TEST(EngineProperties, HandlersLeftOnTheLinkAreClearedOnDestruction)
{
    VirtualLoop loop;
    ScriptedLink link(&loop);
    {
        TRurIvaQs e(nullptr, &loop);
        e.SetDeviceComm(&link);
        e.SetTraceHook([](const TraceRecord&) {});
        e.SetWorkType(wtModem);
        e.Initialization();
        e.GetDeviceID();
        EXPECT_TRUE(link.onPacket.Assigned());
        EXPECT_NE(link.trace, nullptr);
    }
    EXPECT_FALSE(link.onPacket.Assigned());
    EXPECT_FALSE(link.onModemConnect.Assigned());
    EXPECT_FALSE(link.onAll.Assigned());
    EXPECT_EQ(link.trace, nullptr);
    loop.RunFor(5000);  // no timer of the dead engine fires
    EXPECT_TRUE(link.writes.empty());
}

class TraceAndStatistics : public EngineTest {
protected:
    TraceAndStatistics()
    {
        engine.SetTraceHook([this](const TraceRecord& r) {
            kinds.push_back(r.kind);
            lines.push_back(FormatTraceRecord(r));
        });
    }
    std::vector<TraceKind> kinds;
    std::vector<std::string> lines;
};

TEST_F(TraceAndStatistics, EveryStepOfAnExchangeIsReported)
{
    EXPECT_NE(link.trace, nullptr);
    engine.OnReceiveExecuted = [](short, unsigned char*) {};
    engine.SetReceiving_back(true);
    engine.ReadFlash(0x1234, 2);
    Send();
    Bytes line = link.Frames().back();
    const Bytes junk = {0x55, 0x55};  // a head for another station
    const Bytes bad = [] {
        Bytes a = FramedAnswer({1, 2});
        a.back() ^= 1;
        return a;
    }();
    line.insert(line.end(), junk.begin(), junk.end());
    line.insert(line.end(), bad.begin(), bad.end());
    loop.RunFor(5);
    link.Deliver(line);  // echo, dropped head, bad checksum -> repetition
    loop.RunFor(engine.GetTimePackage());
    line = link.Frames().back();
    const Bytes good = FramedAnswer({1, 2});
    line.insert(line.end(), good.begin(), good.end());
    loop.RunFor(7);
    link.Deliver(line);
    engine.SetRepetition(false);
    engine.ReadFlash(0x1234, 2);
    loop.RunFor(2000);  // time-out

    const std::vector<TraceKind> expected = {
        TraceKind::WakeUp,   TraceKind::Send,       TraceKind::Echo,    TraceKind::Dropped,
        TraceKind::FalseCRC, TraceKind::Repetition, TraceKind::Send,    TraceKind::Echo,
        TraceKind::Answer,   TraceKind::Send,       TraceKind::TimeOut,
    };
    EXPECT_EQ(kinds, expected);
    const SLineStatistics& s = engine.GetStatistics();
    EXPECT_EQ(s.Frames, 3u);
    EXPECT_EQ(s.WakeUps, 1u);
    EXPECT_EQ(s.Answers, 1u);
    EXPECT_EQ(s.Dropped, 1u);
    EXPECT_EQ(s.FalseCRC, 1u);
    EXPECT_EQ(s.Repetitions, 1u);
    EXPECT_EQ(s.TimeOuts, 1u);
    EXPECT_EQ(s.LastRoundTripMs, 7);
    EXPECT_EQ(lines[1], "    0.101 send           C9 04 30 34 12 02 F0 35 02");
    EXPECT_EQ(lines[5], "    0.106 repetition     #1");
    engine.ResetStatistics();
    EXPECT_EQ(engine.GetStatistics().Frames, 0u);
    EXPECT_EQ(engine.GetStatistics().LastRoundTripMs, -1);
}

TEST_F(TraceAndStatistics, RemovingTheHookDetachesTheLink)
{
    engine.SetTraceHook(nullptr);
    EXPECT_EQ(link.trace, nullptr);
}

TEST_F(Decoders, ArbitraryLineNoiseNeverBreaksTheEngine)
{
    // Random byte streams in random pieces, for every answer kind, with and without echo. What the
    // engine delivers must stay inside what a frame can hold.
    std::mt19937 rng(12345);
    engine.OnReceiveExecuted = [](short len, unsigned char* buf) {
        ASSERT_GE(len, 0);
        ASSERT_LE(len, 250);
        volatile unsigned sum = 0;
        for (short i = 0; i < len; ++i) sum = sum + buf[i];
    };
    engine.OnReceivedIDDevice = [](const SIDDevice* d) { ASSERT_NE(d, nullptr); };
    for (int round = 0; round < 400; ++round) {
        engine.SetReceiving_back(round % 2 == 0);
        switch (round % 4) {
            case 0:
                engine.ReadFlashLarge(rng(), static_cast<unsigned char>(rng() % 251));
                break;
            case 1:
                engine.GetDeviceID();
                break;
            case 2:
                engine.WriteRAM(0x10, 1, "x");
                break;
            case 3:
                engine.GetModuleCounter(0x1000);
                break;
        }
        loop.RunFor(rng() % 3000);
        Bytes noise(rng() % 700);
        for (auto& b : noise) b = static_cast<uint8_t>(rng() % 4 == 0 ? kMaster : rng());
        if (noise.size() > 1 && rng() % 2) noise[1] = static_cast<uint8_t>(rng() % 256);
        link.Deliver(noise, 1 + rng() % 40);
    }
}

}  // namespace
}  // namespace rv::test
