// The device link against the scripted platform: packet cutting and typed receive as the driver's
// data events deliver them, what a transmission throws away, lines and opening, the IrDA set-up in
// virtual time, and a device that vanishes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/PosixLoop.h"
#include "core/VirtualLoop.h"
#include "fakes/FakeSerialPlatform.h"
#include "protocol/TRurIvaQs.h"
#include "serial/CommErrors.h"
#include "serial/TNewDevCom.h"
#include "serial/TXComm.h"
#include "serial/TXModem.h"

using namespace rv;
using rv::test::FakePort;
using rv::test::FakeSerialPlatform;

namespace {

using Calls = std::vector<std::pair<uint64_t, std::string>>;

class Link : public ::testing::Test {
protected:
    Link()
    {
        pl.CallClock = [this] { return loop.NowMs(); };
        link.SetOpen(true);
        link.SetOnReceivePacket([this](unsigned char* d, int n) { packets.emplace_back(d, d + n); });
    }

    // What the driver's event thread hands over when bytes arrive: the data event with the count queued.
    void Arrive(const std::string& bytes)
    {
        pl.Feed("COM2", bytes);
        link.GetDevice().HandleEvents({deChar});
    }
    std::string Written()
    {
        auto lk = pl.Lock();
        return std::string(port.written.begin(), port.written.end());
    }
    size_t Queued()
    {
        auto lk = pl.Lock();
        return port.input.size();
    }

    VirtualLoop loop;
    FakeSerialPlatform pl;
    FakePort& port = pl.AddPort("COM2");
    TNewDevCom link{nullptr, &loop, &pl};
    std::vector<std::string> packets;
};

}  // namespace

TEST_F(Link, PacketsAreAssembledAcrossEventsAndSeveralComeOutOfOneEvent)
{
    link.SetLengthPacket(4);
    link.SetReceiveType(rtPacket);
    Arrive("ab");
    EXPECT_TRUE(packets.empty());
    Arrive("cdEFGHij");
    EXPECT_EQ(packets, (std::vector<std::string>{"abcd", "EFGH"}));
    Arrive("kl");
    EXPECT_EQ(packets.back(), "ijkl");
    EXPECT_EQ(Queued(), 0u);
}

TEST_F(Link, ALengthChangedInsideTheHandlerGovernsTheBytesStillQueued)
{
    link.SetLengthPacket(9);
    link.SetReceiveType(rtPacket);
    link.SetOnReceivePacket([&](unsigned char* d, int n) {
        packets.emplace_back(d, d + n);
        link.SetLengthPacket(2);
    });
    Arrive("123456789abcd");
    EXPECT_EQ(packets, (std::vector<std::string>{"123456789", "ab", "cd"}));
}

TEST_F(Link, PacketModeNeedsAPositiveLength)
{
    for (int given : {0, -5}) {
        link.SetLengthPacket(given);
        link.SetReceiveType(rtPacket);
        EXPECT_EQ(link.GetLengthPacket(), 1);
    }
    link.SetLengthPacket(7);
    link.SetReceiveType(rtPacket);
    EXPECT_EQ(link.GetLengthPacket(), 7);
}

TEST_F(Link, TypedReceiveDecodesLittleEndianValuesAndKeepsAPartialOne)
{
    std::vector<int> got;
    link.OnReceiveShort = [&](short v) { got.push_back(v); };
    link.OnReceiveLong = [&](int v) { got.push_back(v); };
    link.OnReceiveFloat = [&](float v) { got.push_back(static_cast<int>(v * 100)); };
    link.OnReceiveChar = [&](char c) { got.push_back(c); };

    link.SetReceiveType(rtShort);
    Arrive(std::string("\x34\x12\xFE\xFF\x01", 5));
    EXPECT_EQ(got, (std::vector<int>{0x1234, -2}));
    link.SetReceiveType(rtLong);  // the held byte starts the next element
    Arrive(std::string("\x02\x03\x04", 3));
    EXPECT_EQ(got.back(), 0x04030201);
    got.clear();
    link.SetReceiveType(rtFloat);
    float f = 2.5f;
    std::string bits(4, '\0');
    std::memcpy(bits.data(), &f, 4);
    Arrive(bits);
    link.SetReceiveType(rtChar);
    Arrive("xy");
    EXPECT_EQ(got, (std::vector<int>{250, 'x', 'y'}));
}

TEST_F(Link, RawReceiveHandsOverWhatWasReadAndLeavesTheQueueAloneWithoutAHandler)
{
    link.SetReceiveType(rtAll);
    Arrive("OK\r");
    EXPECT_EQ(Queued(), 3u);

    std::vector<std::string> blocks;
    link.SetOnAllReceive([&](void* buf, int n) {
        const auto* b = static_cast<const char*>(buf);
        EXPECT_EQ(b[n], '\0');
        blocks.emplace_back(b, static_cast<size_t>(n));
    });
    const std::string big(1500, 'z');
    Arrive(big);
    ASSERT_EQ(blocks.size(), 2u);  // more than the buffer holds comes in two pieces
    EXPECT_EQ(blocks[0].size(), 999u);
    EXPECT_EQ(blocks[0] + blocks[1], "OK\r" + big);
}

TEST_F(Link, ANewTransmissionThrowsAwayTheHalfPacketAndTheQueuedInputAndSaysSo)
{
    std::vector<std::string> discarded;
    TraceHook hook = [&](const TraceRecord& r) {
        if (r.kind == TraceKind::Discarded) discarded.emplace_back(r.data, r.data + r.size);
    };
    link.SetTraceHook(&hook);
    link.SetLengthPacket(4);
    link.SetReceiveType(rtPacket);
    Arrive("ab");
    pl.Feed("COM2", "late");  // a late answer whose event has not been handled yet
    link.Transmit_Packed("REQ", 3);
    EXPECT_EQ(Written(), "REQ");
    EXPECT_EQ(discarded, (std::vector<std::string>{"ab", "late"}));
    EXPECT_EQ(Queued(), 0u);
    Arrive("echo");
    EXPECT_EQ(packets, (std::vector<std::string>{"echo"}));
    link.SetTraceHook(nullptr);
}

TEST_F(Link, TheThresholdAsksForTheBytesMissingFromThePacketAndIsOneForEveryOtherType)
{
    auto thresholds = [&] {
        auto lk = pl.Lock();
        return port.thresholds;
    };
    link.SetLengthPacket(9);  // still rtChar: every byte
    link.SetReceiveType(rtPacket);
    Arrive("abc");
    link.SetOnReceivePacket([&](unsigned char* d, int n) {
        packets.emplace_back(d, d + n);
        link.SetLengthPacket(5);  // as a decoder does after the echo
    });
    Arrive("defghi12");
    EXPECT_EQ(packets, (std::vector<std::string>{"abcdefghi"}));
    link.Transmit_Packed("R", 1);  // the held "12" is thrown away: the next packet is missing whole
    link.SetLengthPacket(1000);    // more than the device counts
    link.SetReceiveType(rtShort);
    link.SetReceiveType(rtPacket);
    link.ModemCommand("ATZ");
    link.SetReceiveType(rtChar);
    // Set once per change, never again for the same value.
    EXPECT_EQ(thresholds(), (std::vector<uint32_t>{9, 6, 3, 5, 255, 1, 255, 1}));

    link.SetReceiveType(rtPacket);
    link.SetOpen(false);
    link.SetOpen(true);  // the driver keeps it for the next opening
    EXPECT_EQ(link.GetDevice().GetReceiveThreshold(), 255u);
    EXPECT_EQ(thresholds().back(), 255u);
}

TEST_F(Link, ClearBufTakesAtMost400BytesWithoutWaitingForMore)
{
    pl.Feed("COM2", std::string(500, 'q'));
    link.ClearBuf();
    EXPECT_EQ(Queued(), 100u);
    const uint32_t before = pl.Now();
    link.ClearBuf();
    EXPECT_EQ(Queued(), 0u);
    EXPECT_EQ(pl.Now(), before);  // took what was there and did not wait for the rest of 400
}

TEST_F(Link, ValuesAndModemCommandsGoOutAsTheyShould)
{
    link.Transmit_Byte(0x00);
    link.Transmit_Short(0x1234);
    link.Transmit_Long(0xA1B2C3D4u);
    link.Transmit_Float(1.0f);
    link.ModemCommand("ATZ");
    EXPECT_EQ(Written(), std::string("\x00\x34\x12\xD4\xC3\xB2\xA1\x00\x00\x80\x3F"
                                     "ATZ\r",
                                     15));
    EXPECT_EQ(link.GetReceiveType(), rtAll);
}

TEST_F(Link, LinesFollowThePortAndFailedOpensSayWhy)
{
    link.SetOpen(false);
    link.SetDTR(true);
    link.SetRTS(true);
    EXPECT_FALSE(link.GetDTR());
    EXPECT_FALSE(link.GetRTS());
    {
        auto lk = pl.Lock();
        port.escapes.clear();
    }
    link.SetOpen(true);
    link.SetDTR(true);
    EXPECT_TRUE(link.GetDTR());
    {
        auto lk = pl.Lock();
        EXPECT_EQ(port.escapes, (std::vector<uint32_t>{escSetDtr}));
    }
    link.SetOpen(false);
    EXPECT_FALSE(link.GetDTR());
    EXPECT_FALSE(link.GetOpen());

    link.SetCommNet("COM9");  // not there
    link.SetOpen(true);
    EXPECT_FALSE(link.GetOpen());
    EXPECT_EQ(link.GetOpenError(), "устройство не найдено");

    link.SetCommNet("COM2");
    TXComm other(nullptr, &pl);
    other.OpenDevice();
    link.SetOpen(true);
    EXPECT_EQ(link.GetOpenError(), "порт занят другой программой");
    other.CloseDevice();

    for (const int denied : {EACCES, EPERM}) {
        {
            auto lk = pl.Lock();
            port.openError = denied;
        }
        link.SetOpen(true);
        EXPECT_FALSE(link.GetOpen());
        EXPECT_EQ(link.GetOpenError(),
                  "нет прав доступа к порту. Пользователь должен состоять в "
                  "группе dialout: sudo adduser $USER dialout, затем выйти из системы и войти снова.");
    }
    {
        auto lk = pl.Lock();
        port.openError = 0;
    }

    {
        auto lk = pl.Lock();
        port.refuseState = true;  // the device refuses the settings: the link does not stay half open
    }
    link.SetOpen(true);
    EXPECT_FALSE(link.GetOpen());
    EXPECT_FALSE(link.GetDevice().GetOpened());
    EXPECT_EQ(link.GetOpenError(), "порт не принял настройки линии");
    {
        auto lk = pl.Lock();
        port.refuseState = false;
    }
    link.SetOpen(true);
    EXPECT_TRUE(link.GetOpen());
    EXPECT_EQ(link.GetOpenError(), "");
}

TEST_F(Link, AClosedPortRefusesToSendAndTheEngineReportsIt)
{
    link.SetOpen(false);
    try {
        link.Transmit_Packed("x", 1);
        FAIL() << "no error";
    } catch (const EDeviceError& e) {
        EXPECT_EQ(e.ErrorCode, ecCommClosed);
    }

    TRurIvaQs engine(nullptr, &loop);
    engine.SetDeviceComm(&link);
    int errors = 0, retries = 0;
    engine.OnTransmitError = [&](const std::exception& e) {
        ++errors;
        EXPECT_STREQ(e.what(), SCommClosed);
    };
    engine.OnRepetition = [&](int) { ++retries; };
    engine.GetDeviceID();
    loop.RunFor(2500);
    EXPECT_EQ(errors, 3);  // every try fails at once and is retried after the answer time-out
    EXPECT_EQ(retries, 2);
    engine.BreakTransmit();
}

TEST_F(Link, IrdaSetUpRunsItsTenStepsOnTheTransmitTimerBeforeTheData)
{
    link.SetBaudRate(br115200);
    link.SetIrda(true);
    {
        auto lk = pl.Lock();
        port.calls.clear();
    }
    const uint64_t t0 = loop.NowMs();
    link.Transmit_Packed("\x01\x02\x03", 3);
    EXPECT_EQ(Written(), "");
    loop.RunFor(400);
    // Step 0 sets parity, stop bits and rate; the driver applies the control block after each.
    const Calls expected = {
        {t0 + 1, "rate 115200"}, {t0 + 1, "rate 115200"},   {t0 + 1, "rate 9600"},  {t0 + 11, "RTS off"},
        {t0 + 11, "DTR off"},    {t0 + 21, "RTS on"},       {t0 + 121, "RTS on"},   {t0 + 122, "DTR on"},
        {t0 + 222, "DTR off"},   {t0 + 222, "RTS on"},      {t0 + 232, "write 10"}, {t0 + 242, "RTS off"},
        {t0 + 242, "DTR on"},    {t0 + 252, "rate 115200"}, {t0 + 252, "DTR on"},   {t0 + 254, "write 01 02 03"},
    };
    {
        auto lk = pl.Lock();
        EXPECT_EQ(port.calls, expected);
        port.calls.clear();
    }
    EXPECT_TRUE(link.GetIrdaReady());

    link.Transmit_Packed("\x04", 1);  // ready: goes at once
    link.SetOpen(false);
    link.SetOpen(true);  // every opening sets the adapter up again
    link.Transmit_Packed("\x05", 1);
    loop.RunFor(400);
    auto lk = pl.Lock();
    ASSERT_GE(port.calls.size(), 3u);
    EXPECT_EQ(port.calls[0].second, "write 04");
    EXPECT_EQ(port.calls.back().second, "write 05");
    EXPECT_EQ(std::count(port.written.begin(), port.written.end(), 0x10), 2);
}

TEST_F(Link, AnIrdaStepThatKeepsFailingAbandonsTheTransmission)
{
    link.SetOpen(false);
    link.SetIrda(true);
    int abandoned = 0;
    link.OnTransmitAbandoned = [&](TObject*) { ++abandoned; };
    link.Transmit_Packed("x", 1);  // no error yet: the set-up runs first
    loop.RunFor(1000);
    EXPECT_EQ(abandoned, 1);
    // Steps 0..5 pass (the lines do nothing on a closed port); the byte 0x10 fails three times.
    EXPECT_EQ(link.GetTransmitError(),
              std::string("Настройка адаптера IrDA не удалась, передача отменена: ") + SCommClosed);
    EXPECT_EQ(link.GetIrdaStep(), 0);
    EXPECT_FALSE(link.GetIrdaReady());
    EXPECT_EQ(Written(), "");

    link.SetOpen(true);
    link.Transmit_Packed("y", 1);
    EXPECT_EQ(link.GetTransmitError(), "");
    loop.RunFor(400);
    EXPECT_EQ(Written(), "\x10y");
    EXPECT_EQ(abandoned, 1);
}

namespace {

// The event thread delivering through the loop thread, with a real-time loop.
class LinkThreaded : public ::testing::Test {
protected:
    PosixLoop loop;
    FakeSerialPlatform pl;
    FakePort& port = pl.AddPort("COM2");
    TNewDevCom link{nullptr, &loop, &pl};
};

}  // namespace

TEST_F(LinkThreaded, DataEventsAreHandledOnTheLoopThread)
{
    std::vector<std::string> packets;
    std::thread::id where;
    link.SetOnReceivePacket([&](unsigned char* d, int n) {
        where = std::this_thread::get_id();
        packets.emplace_back(d, d + n);
    });
    link.SetLengthPacket(3);
    link.SetReceiveType(rtPacket);
    link.SetOpen(true);
    pl.Feed("COM2", "abcdef");
    pl.PushEvent("COM2", evRxChar);
    ASSERT_TRUE(loop.RunUntil([&] { return packets.size() == 2; }, 5000));
    EXPECT_EQ(where, std::this_thread::get_id());
    link.SetOpen(false);
}

TEST_F(LinkThreaded, BytesHeldBackByTheThresholdComeOutWhenTheReceiveTypeChanges)
{
    std::string chars;
    link.OnReceiveChar = [&](char c) { chars += c; };
    link.SetLengthPacket(5);
    link.SetReceiveType(rtPacket);
    link.SetOpen(true);
    int events = 0;
    const TDataEvent cut = link.GetDevice().OnData;
    link.GetDevice().OnData = [&](TObject* s, uint32_t n) {
        ++events;
        cut(s, n);
    };
    pl.Feed("COM2", "abc");
    pl.PushEvent("COM2", evRxChar);
    loop.RunFor(50);
    EXPECT_EQ(events, 0);  // three of five bytes: no event yet
    link.SetReceiveType(rtChar);
    ASSERT_TRUE(loop.RunUntil([&] { return chars == "abc"; }, 5000));
    link.SetOpen(false);
}

TEST_F(LinkThreaded, AVanishedDeviceLeavesAClosedPortThatSaysWhy)
{
    int lost = 0;
    link.OnDeviceLost = [&](TObject*) { ++lost; };
    link.SetOpen(true);
    link.SetDTR(true);
    pl.FailDevice("COM2");
    ASSERT_TRUE(loop.RunUntil([&] { return lost > 0; }, 5000));
    loop.RunFor(50);
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(link.GetOpen());
    EXPECT_FALSE(link.GetDTR());
    EXPECT_TRUE(link.GetDeviceLost());
    EXPECT_EQ(link.GetDeviceLostReason(), "Порт COM2 больше не доступен: устройство отключено или неисправно.");
    EXPECT_THROW(link.Transmit_Packed("x", 1), EDeviceError);

    {
        auto lk = pl.Lock();
        port.failed = false;  // plugged in again
    }
    link.SetOpen(true);
    EXPECT_TRUE(link.GetOpen());
    EXPECT_FALSE(link.GetDeviceLost());
    link.SetOpen(false);
}

TEST_F(LinkThreaded, AnErrorEscapingAPacketHandlerIsTakenAsTheLossOfTheDevice)
{
    int lost = 0;
    link.OnDeviceLost = [&](TObject*) { ++lost; };
    std::vector<std::string> packets;
    link.SetOnReceivePacket([&](unsigned char* d, int n) {
        packets.emplace_back(d, d + n);
        if (packets.size() == 1) throw std::runtime_error("boom");
    });
    link.SetLengthPacket(3);
    link.SetReceiveType(rtPacket);
    link.SetOpen(true);
    link.SetDTR(true);
    pl.Feed("COM2", "abcdef");
    pl.PushEvent("COM2", evRxChar);
    ASSERT_TRUE(loop.RunUntil([&] { return lost > 0; }, 5000));
    loop.RunFor(50);
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(packets, std::vector<std::string>{"abc"});
    EXPECT_FALSE(link.GetOpen());
    EXPECT_FALSE(link.GetDTR());
    EXPECT_TRUE(link.GetDeviceLost());
    EXPECT_EQ(link.GetDeviceLostReason(), "Порт COM2 закрыт: сбой при обработке принятых данных: boom");
    EXPECT_THROW(link.Transmit_Packed("x", 1), EDeviceError);  // what the engine and the windows hear of

    link.SetOpen(true);  // a new opening delivers again
    EXPECT_FALSE(link.GetDeviceLost());
    pl.Feed("COM2", "ghi");
    pl.PushEvent("COM2", evRxChar);
    EXPECT_TRUE(loop.RunUntil([&] { return packets.size() == 2; }, 5000));
    link.SetOpen(false);
}
