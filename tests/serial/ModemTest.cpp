// The modem layer on the scripted platform with modem lines: state and lines, calls, hanging up,
// waiting for calls, the carrier through the event thread, and the waits for replies in virtual
// time. A small Hayes responder on the loop answers what the driver wrote, as the event thread's
// hand-over would deliver it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "core/PosixLoop.h"
#include "core/TTimer.h"
#include "core/VirtualLoop.h"
#include "fakes/FakeSerialPlatform.h"
#include "fakes/ModemLinesPlatform.h"
#include "serial/CommErrors.h"
#include "serial/DeviceErrorOf.h"
#include "serial/TXModem.h"

using namespace rv;
using rv::test::FakePort;
using rv::test::FakeSerialPlatform;
using rv::test::ModemLinesPlatform;
using rv::test::CodeOf;

namespace {

// Answers the command lines the driver writes, polled by a loop timer.
class Responder {
public:
    Responder(FakeSerialPlatform& pl, TCustomModem& modem, Loop& loop) : pl_(pl), modem_(modem), timer_(nullptr, &loop)
    {
        timer_.SetInterval(5);
        timer_.OnTimer = [this](TObject*) { Poll(); };
    }
    // Lines are given without CR; "+++" and "ESC" (the dial abort) too.
    std::function<std::string(const std::string&)> Answer;
    std::vector<std::string> Commands;

    void Start()
    {
        auto lk = pl_.Lock();
        seen_ = pl_.Port("COM2").written.size();
        timer_.Start();
    }

private:
    void Poll()
    {
        {
            auto lk = pl_.Lock();
            const auto& w = pl_.Port("COM2").written;
            buf_.append(w.begin() + static_cast<std::ptrdiff_t>(seen_), w.end());
            seen_ = w.size();
        }
        std::string out;
        for (;;) {
            std::string cmd;
            if (buf_.rfind("+++", 0) == 0) {
                cmd = "+++";
                buf_.erase(0, 3);
            } else if (!buf_.empty() && buf_[0] == '\x1b') {
                cmd = "ESC";
                buf_.erase(0, 1);
            } else {
                const size_t cr = buf_.find('\r');
                if (cr == std::string::npos) break;
                cmd = buf_.substr(0, cr);
                buf_.erase(0, cr + 1);
                if (cmd.empty()) continue;
            }
            Commands.push_back(cmd);
            if (Answer) out += Answer(cmd);
        }
        if (out.empty()) return;
        pl_.Feed("COM2", out);
        modem_.HandleEvents({deChar});
    }

    FakeSerialPlatform& pl_;
    TCustomModem& modem_;
    TTimer timer_;
    size_t seen_ = 0;
    std::string buf_;
};

class Modem : public ::testing::Test {
protected:
    void SetUp() override
    {
        modem.OnConnect = [&](TObject*) { log.push_back("connect"); };
        modem.OnDisconnect = [&](TObject*) { log.push_back("disconnect"); };
        modem.OnConnecting = [&](TObject*, TConnectType t) { log.push_back("connecting " + std::to_string(t)); };
        modem.OnDisconnecting = [&](TObject*) { log.push_back("disconnecting"); };
        modem.OnChangeCmdState = [&](TObject*) { log.push_back("cmd state"); };
        modem.OpenDevice();
    }
    // What the driver wrote since the last call.
    std::string TakeWritten()
    {
        auto lk = pl.Lock();
        const auto& w = port.written;
        std::string s(w.begin() + static_cast<std::ptrdiff_t>(taken), w.end());
        taken = w.size();
        return s;
    }
    // The modem answers the probe: command state, escape character '+'.
    void EnterCommandState()
    {
        const uint32_t t = pl.Now();
        pl.FeedAt("COM2", t + 5, "\r\nOK\r\n");
        pl.FeedAt("COM2", t + 15, "\r\nOK\r\n");
        ASSERT_TRUE(modem.EnterCommandState());
        TakeWritten();
        log.clear();
    }
    void Carrier(bool on)
    {
        lines.SetLine(msRlsdOn, on);
        modem.HandleEvents({deRLSD});
    }
    // A dialled call that is up: carrier first, the modem's CONNECT text after it.
    void Dialled()
    {
        EnterCommandState();
        hayes.Answer = [&](const std::string& cmd) -> std::string {
            if (cmd.rfind("ATD", 0) == 0) {
                Carrier(true);
                return "\r\nCONNECT 9600\r\n";
            }
            if (cmd == "+++" || cmd == "ATH") return "\r\nOK\r\n";
            if (cmd == "ATO") return "\r\nCONNECT 9600\r\n";
            return "";
        };
        hayes.Start();
        modem.GetModemSettings().SetDialNumber("123");
        ASSERT_TRUE(modem.Connect(true));
    }
    TModemState State() { return modem.GetModemState(); }
    static TModemState States(std::initializer_list<TModemStateFlag> f) { return TModemState(f); }

    FakeSerialPlatform pl;
    FakePort& port = pl.AddPort("COM2");
    ModemLinesPlatform lines{pl};
    VirtualLoop loop;
    std::vector<std::string> log;  // outlives the modem, which may hang up as it goes
    size_t taken = 0;
    TXModem modem{nullptr, &lines};
    Responder hayes{pl, modem, loop};
};

}  // namespace

TEST_F(Modem, LinesAndStateFollowDSR)
{
    lines.SetLines(msCtsOn | msDsrOn | msRingOn | msRlsdOn);
    EXPECT_EQ(modem.GetLineStatus(), TLineStatus({lsCTS, lsDSR, lsRing, lsCD}));
    lines.SetHasLines(false);  // the status query refused: no lines at all
    EXPECT_TRUE(modem.GetLineStatus().Empty());
    lines.SetHasLines(true);

    lines.SetLines(msCtsOn);
    EXPECT_TRUE(modem.GetModemState().Empty());
    EXPECT_FALSE(modem.InitCommand("AT"));
    EXPECT_EQ(TakeWritten(), "");
    EXPECT_FALSE(modem.EnterCommandState());  // no probe without DSR
    EXPECT_EQ(TakeWritten(), "");

    lines.SetLines(msDsrOn);
    EXPECT_EQ(State(), States({msInstalled}));
    EXPECT_EQ(CodeOf([&] { modem.SendCommand("AT"); }), ecNoCommandState);
    modem.CloseDevice();
    EXPECT_EQ(CodeOf([&] { modem.GetModemState(); }), ecCommClosed);
    EXPECT_EQ(CodeOf([&] { modem.Disconnect(); }), ecCommClosed);
    EXPECT_EQ(CodeOf([&] { modem.EnterCommandState(); }), ecCommClosed);
    EXPECT_EQ(modem.GetEnterCmd(), std::string(3, '\0'));
    EXPECT_TRUE(modem.GetLocked());
}

TEST_F(Modem, TheProbePutsTheModemIntoCommandStateWhereUserIOIsLocked)
{
    EnterCommandState();
    EXPECT_EQ(State(), States({msInstalled, msCommandState}));
    EXPECT_EQ(modem.GetEnterCmd(), "+++");
    EXPECT_TRUE(modem.GetLocked());
    EXPECT_EQ(CodeOf([&] { modem.SendString("x"); }), ecLockedSend);
    char c;
    EXPECT_EQ(CodeOf([&] { modem.ReadData(&c, 1); }), ecLockedRead);

    EXPECT_TRUE(modem.ExitCommandState());  // not connected: just leaves command state
    EXPECT_EQ(State(), States({msInstalled}));
    EXPECT_FALSE(modem.GetLocked());
    EXPECT_EQ(log, std::vector<std::string>{"cmd state"});

    // A modem that stays silent leaves the state alone.
    EXPECT_FALSE(modem.EnterCommandState());
    EXPECT_EQ(TakeWritten(), "ATQ0\r");
    EXPECT_EQ(State(), States({msInstalled}));
}

TEST_F(Modem, ADialledCallComesUpAndIsHungUpWithEscapeAndATH)
{
    std::string data;
    modem.OnData = [&](TObject*, uint32_t) {
        std::string s;
        modem.ReadString(s);
        data += s;
    };
    Dialled();
    EXPECT_EQ(TakeWritten(), "ATDT 123\r");
    EXPECT_EQ(State(), States({msInstalled, msConnected}));
    EXPECT_FALSE(modem.GetLocked());
    EXPECT_EQ(log, (std::vector<std::string>{"connecting 0", "connect"}));
    loop.RunFor(20);
    EXPECT_EQ(data, "\r\nCONNECT 9600\r\n");  // after the carrier, the modem's text is data

    log.clear();
    modem.Disconnect();
    EXPECT_EQ(TakeWritten(), "+++ATH\r");
    EXPECT_EQ(log, (std::vector<std::string>{"disconnecting", "cmd state", "disconnect"}));
    Carrier(false);  // already hung up: nothing more happens
    EXPECT_EQ(State(), States({msInstalled, msCommandState}));
    EXPECT_EQ(log.size(), 3u);
}

TEST_F(Modem, AnEscapedCallGoesBackOnlineOrIsHungUpFromCommandState)
{
    Dialled();
    TakeWritten();
    EXPECT_TRUE(modem.EnterCommandState());
    EXPECT_EQ(State(), States({msInstalled, msConnected, msCommandState}));
    EXPECT_TRUE(modem.ExitCommandState());
    EXPECT_EQ(TakeWritten(), "+++ATO\r");
    EXPECT_EQ(State(), States({msInstalled, msConnected}));

    EXPECT_TRUE(modem.EnterCommandState());
    TakeWritten();
    log.clear();
    modem.Disconnect();  // in command state the call is still up: hang up without escaping
    EXPECT_EQ(TakeWritten(), "ATH\r");
    EXPECT_EQ(log, (std::vector<std::string>{"disconnecting", "disconnect"}));
}

TEST_F(Modem, CallResultsAndTheDialAbort)
{
    EnterCommandState();
    THayesAT seen;
    modem.OnHayesAT = [&](TObject*, THayesAT& at) { seen = at; };
    hayes.Answer = [&](const std::string& cmd) -> std::string {
        if (cmd == "ATDT 5") return "\r\nBUSY\r\n";
        if (cmd == "ATA") {
            Carrier(true);  // the carrier before the text: the call is up all the same
            return "";
        }
        if (cmd == "ESC") return "\r\nNO CARRIER\r\n";
        return "";
    };
    hayes.Start();
    modem.GetModemSettings().SetDialNumber("5");
    EXPECT_FALSE(modem.Connect(true));
    EXPECT_EQ(log, (std::vector<std::string>{"connecting 0", "disconnecting"}));
    EXPECT_EQ(State(), States({msInstalled, msCommandState}));

    // A dial in progress is stopped; CR and ESC go out although the command lock is on.
    log.clear();
    modem.GetModemSettings().SetDialNumber("6");
    EXPECT_FALSE(modem.Connect(false));
    EXPECT_EQ(State(), States({msInstalled, msCommandState, msATSent, msConnecting}));
    modem.Disconnect();
    EXPECT_EQ(TakeWritten(), "ATDT 5\rATDT 6\r\r\x1b");
    EXPECT_EQ(log, (std::vector<std::string>{"connecting 0", "disconnecting"}));
    EXPECT_EQ(State(), States({msInstalled, msCommandState}));

    modem.GetModemSettings().SetConnectType(ctDirect);
    EXPECT_TRUE(modem.Connect(true));
    EXPECT_EQ(State(), States({msInstalled, msConnected}));
    EXPECT_EQ(seen.ResultText, "BUSY");  // told while connecting although a wait took it too
}

TEST_F(Modem, WaitingForACallUntilTheCarrierComes)
{
    EnterCommandState();
    hayes.Answer = [](const std::string&) { return std::string("\r\nOK\r\n"); };
    hayes.Start();
    int rings = 0;
    modem.OnRing = [&](TObject*) { ++rings; };
    TTimer call(nullptr, &loop);
    call.SetInterval(300);
    call.OnTimer = [&](TObject*) {
        call.Stop();
        modem.HandleEvents({deRing});
        Carrier(true);
    };
    call.Start();
    modem.GetModemSettings().SetConnectType(ctWait);
    const uint64_t start = loop.NowMs();
    EXPECT_TRUE(modem.Connect(true));
    EXPECT_EQ(loop.NowMs() - start, 300u);
    EXPECT_EQ(hayes.Commands, std::vector<std::string>{"ATS0=002"});
    EXPECT_EQ(rings, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"connecting 2", "connect"}));

    // Waiting again, then giving up: auto-answer goes off.
    Carrier(false);
    log.clear();
    EXPECT_FALSE(modem.Connect(false));
    EXPECT_EQ(State(), States({msInstalled, msCommandState, msConnecting, msWaitingCall}));
    modem.Disconnect();
    EXPECT_EQ(hayes.Commands.back(), "ATS0=000");
    EXPECT_EQ(State(), States({msInstalled, msCommandState}));
    EXPECT_EQ(log, (std::vector<std::string>{"connecting 2", "disconnecting"}));
}

TEST_F(Modem, RegistersResetAndInit)
{
    EnterCommandState();
    hayes.Answer = [](const std::string& cmd) -> std::string {
        if (cmd == "ATS7?") return "ATS7?\r\r\n1234\r\n\r\nOK\r\n";
        if (cmd == "ATS9=000") return "\r\nERROR\r\n";
        return "\r\nOK\r\n";
    };
    hayes.Start();
    int notified = 0;
    modem.OnHayesAT = [&](TObject*, THayesAT&) { ++notified; };
    EXPECT_TRUE(modem.SetRegisterValue(3, 99));  // the line end stays CR
    EXPECT_FALSE(modem.SetRegisterValue(9, 0));
    uint8_t v = 0;
    EXPECT_FALSE(modem.GetRegisterValue(7, v));  // four digits are no register value
    EXPECT_TRUE(modem.SetRegisterValue(2, 0));
    EXPECT_EQ(modem.GetEnterCmd(), std::string(3, '\0'));
    EXPECT_EQ(notified, 0);  // the register operations' own replies
    EXPECT_TRUE(modem.SendCommand("ATE0"));
    loop.RunFor(20);
    EXPECT_EQ(notified, 1);

    EXPECT_TRUE(modem.ResetModem());
    EXPECT_TRUE(modem.InitModem());
    modem.GetModemSettings().SetSpeed(0);
    EXPECT_TRUE(modem.InitModem());
    EXPECT_EQ(hayes.Commands, (std::vector<std::string>{"ATS3=013", "ATS9=000", "ATS7?", "ATS2=000", "ATE0", "ATZ",
                                                        "AT+MS=11,1,300,33600", "ATX&C1&D2&K3M0", "ATX&C1&D2&K3M0"}));
}

TEST_F(Modem, AWaitEndsOnItsTimeOutDSRLossClosingOrTheApplicationEnding)
{
    EnterCommandState();
    ASSERT_TRUE(modem.InitCommand("AT"));
    THayesAT at;
    uint64_t start = loop.NowMs();
    modem.WaitForAT(1000, at);
    EXPECT_EQ(at.ResultCode, -1);
    EXPECT_EQ(loop.NowMs() - start, 1001u);

    TTimer t(nullptr, &loop);
    t.SetInterval(250);
    std::function<void()> action;
    t.OnTimer = [&](TObject*) {
        t.Stop();
        action();
    };
    for (int i = 0; i < 3; ++i) {
        // Without a time-out only these end the wait.
        ASSERT_TRUE(modem.InitCommand("AT"));
        action = i == 0 ? std::function<void()>([&] { lines.SetLine(msDsrOn, false); })
               : i == 1 ? std::function<void()>([&] { modem.CloseDevice(); })
                        : std::function<void()>([&] { loop.Terminate(); });
        t.Start();
        start = loop.NowMs();
        modem.WaitForAT(0, at);
        EXPECT_EQ(at.ResultCode, -1);
        EXPECT_EQ(loop.NowMs() - start, 250u);
        if (i == 0) lines.SetLine(msDsrOn, true);
        if (i == 1) {
            modem.OpenDevice();
            EnterCommandState();
        }
    }
}

TEST_F(Modem, ClosingHangsUpAndGivesUpOnADeadModem)
{
    Dialled();
    TakeWritten();
    hayes.Answer = nullptr;  // the modem dies
    log.clear();
    const uint64_t start = loop.NowMs();
    modem.CloseDevice();
    EXPECT_FALSE(modem.GetOpened());
    EXPECT_EQ(loop.NowMs() - start, 10001u);
    EXPECT_EQ(TakeWritten(), "+++");
    EXPECT_EQ(log, (std::vector<std::string>{"disconnecting", "disconnect"}));
}

TEST_F(Modem, LowerDTRDropsTheLineInsideABreak)
{
    Dialled();
    log.clear();
    {
        auto lk = pl.Lock();
        port.escapes.clear();
    }
    modem.LowerDTR();
    EXPECT_EQ(log, std::vector<std::string>{"disconnecting"});
    auto lk = pl.Lock();
    EXPECT_EQ(port.escapes, (std::vector<uint32_t>{escSetBreak, escClrDtr, escClrBreak}));
}

TEST_F(Modem, SettingsKeepTheSpeedListAndCopyAllValues)
{
    TModemSettings s;
    s.SetSpeed(38400);
    EXPECT_EQ(s.GetSpeed(), 33600);
    s.SetSpeed(2400);
    s.SetDialType(dtPulse);
    s.SetDialNumber("42");
    s.SetConnectType(ctWait);
    s.SetInitString("ATZ0");
    s.SetResetString("AT&F");
    s.SetWaitRings(5);
    modem.SetModemSettings(s);
    const TModemSettings& m = modem.GetModemSettings();
    EXPECT_NE(&m, &s);
    EXPECT_EQ(m.GetSpeed(), 2400);
    EXPECT_EQ(m.GetDialType(), dtPulse);
    EXPECT_EQ(m.GetDialNumber(), "42");
    EXPECT_EQ(m.GetConnectType(), ctWait);
    EXPECT_EQ(m.GetInitString(), "ATZ0");
    EXPECT_EQ(m.GetResetString(), "AT&F");
    EXPECT_EQ(m.GetWaitRings(), 5);
    EXPECT_THROW(modem.SetModemSettings(modem.GetDataControl()), EConvertError);
}

// The carrier and the replies through the event thread, with and without the hand-over.
class ModemThreads : public ::testing::TestWithParam<bool> {
protected:
    FakeSerialPlatform pl;
    FakePort& port = pl.AddPort("COM2");
    ModemLinesPlatform lines{pl};
    PosixLoop loop;
    TXModem modem{nullptr, &lines};
};

TEST_P(ModemThreads, CarrierChangesAndRepliesArriveFromTheEventThread)
{
    const bool synchronize = GetParam();
    modem.SetSynchronize(synchronize);
    std::mutex mu;
    std::vector<std::string> log;
    auto note = [&](const std::string& s) {
        std::lock_guard<std::mutex> lk(mu);
        log.push_back(s);
    };
    auto logged = [&](size_t n) {
        std::lock_guard<std::mutex> lk(mu);
        return log.size() >= n;
    };
    modem.OnConnect = [&](TObject*) { note("connect"); };
    modem.OnDisconnect = [&](TObject*) { note("disconnect"); };
    modem.OnHayesAT = [&](TObject*, THayesAT& at) { note("reply " + at.ResultText); };
    modem.OpenDevice();
    const uint32_t t = pl.Now();
    pl.FeedAt("COM2", t + 5, "\r\nOK\r\n");
    pl.FeedAt("COM2", t + 15, "\r\nOK\r\n");
    ASSERT_TRUE(modem.EnterCommandState());

    // A reply parsed before anybody waits is kept for the wait.
    ASSERT_TRUE(modem.InitCommand("ATE0"));
    pl.Feed("COM2", "\r\nOK\r\n");
    pl.PushEvent("COM2", evRxChar);
    ASSERT_TRUE(loop.RunUntil([&] { return logged(1); }, 5000));
    THayesAT at;
    modem.WaitForAT(5000, at);
    EXPECT_EQ(at.ResultText, "OK");

    // A reply parsed while the loop thread waits ends the wait.
    ASSERT_TRUE(modem.InitCommand("ATI"));
    TTimer reply(nullptr, &loop);
    reply.SetInterval(20);
    reply.OnTimer = [&](TObject*) {
        reply.Stop();
        pl.Feed("COM2", "ATI\r\r\nv1\r\n\r\nOK\r\n");
        pl.PushEvent("COM2", evRxChar);
    };
    reply.Start();
    modem.WaitForAT(5000, at);
    EXPECT_EQ(at.Response, "v1");
    EXPECT_EQ(at.ResultCode, 0);

    lines.SetLine(msRlsdOn, true);
    pl.PushEvent("COM2", evRlsd | evDsr);  // with DSR: the modem powering up, not a call
    pl.PushEvent("COM2", evRlsd);
    ASSERT_TRUE(loop.RunUntil([&] { return logged(2); }, 5000));
    EXPECT_EQ(modem.GetModemState(), TModemState({msInstalled, msConnected}));
    lines.SetLine(msRlsdOn, false);
    pl.PushEvent("COM2", evRlsd);
    ASSERT_TRUE(loop.RunUntil([&] { return logged(3); }, 5000));
    modem.CloseDevice();
    std::lock_guard<std::mutex> lk(mu);
    EXPECT_EQ(log, (std::vector<std::string>{"reply OK", "connect", "disconnect"}));
}

INSTANTIATE_TEST_SUITE_P(Synchronize, ModemThreads, ::testing::Bool());
