// The modem layer over a real pseudo-terminal with the test playing a Hayes modem at the far end:
// replies as a modem sends them (echo, information, result; whole or in pieces), what goes out
// for Q1 and the registers, a port without modem lines, and a modem that never answers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "core/PosixLoop.h"
#include "fakes/ModemLinesPlatform.h"
#include "fakes/Pty.h"
#include "serial/PosixSerialPlatform.h"
#include "serial/TXModem.h"

using namespace rv;
using rv::test::ModemLinesPlatform;
using rv::test::Pty;

namespace {

// A modem on the master side: each command line (up to CR) or escape sequence it receives is
// answered with the pieces Answer gives, a short pause between pieces.
class PlayedModem {
public:
    explicit PlayedModem(Pty& pty) : pty_(pty)
    {
        if (pipe2(stop_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        thread_ = std::thread([this] { Run(); });
    }
    ~PlayedModem()
    {
        (void)!write(stop_[1], "x", 1);
        thread_.join();
        close(stop_[0]);
        close(stop_[1]);
    }
    void SetAnswer(std::function<std::vector<std::string>(const std::string&)> answer)
    {
        std::lock_guard<std::mutex> lk(mu_);
        answer_ = std::move(answer);
    }
    std::vector<std::string> Commands()
    {
        std::lock_guard<std::mutex> lk(mu_);
        return commands_;
    }
    std::string Received()
    {
        std::lock_guard<std::mutex> lk(mu_);
        return received_;
    }

private:
    // False when told to stop.
    bool Pause(int ms)
    {
        pollfd p{stop_[0], POLLIN, 0};
        return poll(&p, 1, ms) == 0;
    }
    void Run()
    {
        std::string buf;
        for (;;) {
            pollfd p[2] = {{pty_.Master(), POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (poll(p, 2, -1) < 0 && errno != EINTR) return;
            if (p[1].revents) return;
            if (!(p[0].revents & POLLIN)) {
                if (p[0].revents && !Pause(5)) return;  // no slave open yet: a hang-up until it is
                continue;
            }
            char bytes[256];
            const ssize_t n = read(pty_.Master(), bytes, sizeof bytes);
            if (n <= 0) continue;
            buf.append(bytes, static_cast<size_t>(n));
            for (;;) {
                std::string cmd;
                if (buf.rfind("+++", 0) == 0) {
                    cmd = "+++";
                    buf.erase(0, 3);
                } else {
                    const size_t cr = buf.find('\r');
                    if (cr == std::string::npos) break;
                    cmd = buf.substr(0, cr);
                    buf.erase(0, cr + 1);
                }
                std::vector<std::string> pieces;
                {
                    std::lock_guard<std::mutex> lk(mu_);
                    commands_.push_back(cmd);
                    received_ += cmd + (cmd == "+++" ? "" : "\r");
                    if (answer_) pieces = answer_(cmd);
                }
                for (size_t i = 0; i < pieces.size(); ++i) {
                    if (i > 0 && !Pause(40)) return;
                    pty_.Write(pieces[i]);
                }
            }
        }
    }

    Pty& pty_;
    int stop_[2] = {-1, -1};
    std::mutex mu_;
    std::function<std::vector<std::string>(const std::string&)> answer_;
    std::vector<std::string> commands_;
    std::string received_;
    std::thread thread_;
};

// A modem with echo on: the line echoed, then the result.
std::vector<std::string> EchoOK(const std::string& cmd)
{
    if (cmd == "+++") return {"\r\nOK\r\n"};
    return {cmd + "\r\r\nOK\r\n"};
}

double CpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

class ModemPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        played.SetAnswer(EchoOK);
        modem.SetDeviceName(pty.SlavePath());
        // The probe waits 20 characters' time: at 300 bit/s that leaves room for a slow scheduler.
        modem.SetBaudRate(br300);
        modem.OpenDevice();
    }

    Pty pty;
    PosixSerialPlatform posix;
    ModemLinesPlatform lines{posix};
    PosixLoop loop;
    TXModem modem{nullptr, &lines};
    PlayedModem played{pty};
};

}  // namespace

TEST_F(ModemPty, RepliesAreTakenAsTheModemSendsThem)
{
    // Idle, the input is the user's data.
    std::string data;
    modem.OnData = [&](TObject*, uint32_t) {
        std::string s;
        modem.ReadString(s);
        data += s;
    };
    pty.Write("abc");
    ASSERT_TRUE(loop.RunUntil([&] { return data == "abc"; }, 5000));

    played.SetAnswer([](const std::string& cmd) -> std::vector<std::string> {
        if (cmd == "ATS0?") return {"ATS0?\r\r\n002\r\n\r\nOK\r\n"};
        if (cmd == "ATZ") return {"ATZ\r\r\nO", "K\r\n"};
        return EchoOK(cmd);
    });
    ASSERT_TRUE(modem.EnterCommandState());
    EXPECT_EQ(played.Commands(), (std::vector<std::string>{"ATQ0", "ATS2=043"}));

    ASSERT_TRUE(modem.SendCommand("ATS0?"));
    THayesAT at;
    modem.WaitForAT(5000, at);
    EXPECT_EQ(at.Command, "ATS0?");
    EXPECT_EQ(at.Response, "002");
    EXPECT_EQ(at.ResultText, "OK");
    EXPECT_EQ(at.ResultCode, 0);
    uint8_t value = 0;
    EXPECT_TRUE(modem.GetRegisterValue(0, value));
    EXPECT_EQ(value, 2);

    ASSERT_TRUE(modem.SendCommand("ATZ"));
    modem.WaitForAT(5000, at);
    EXPECT_EQ(at.Command, "ATZ");
    EXPECT_EQ(at.ResultText, "OK");
    EXPECT_EQ(data, "abc");  // none of the replies reached the user
}

TEST_F(ModemPty, AReceiveThresholdLeftByADataUserNeverHoldsBackAReply)
{
    modem.SetReceiveThreshold(40);  // a packet user waiting for more than any reply holds
    played.SetAnswer([](const std::string& cmd) -> std::vector<std::string> {
        if (cmd == "ATZ") return {"ATZ\r\r\nO", "K\r\n"};
        return EchoOK(cmd);
    });
    ASSERT_TRUE(modem.EnterCommandState());
    ASSERT_TRUE(modem.SendCommand("ATZ"));
    EXPECT_EQ(modem.GetReceiveThreshold(), 1u);
    THayesAT at;
    modem.WaitForAT(5000, at);
    EXPECT_EQ(at.ResultText, "OK");
    EXPECT_EQ(at.ResultCode, 0);
}

TEST_F(ModemPty, QuietModeStaysOffAndRegistersAreWrittenTheirOwnWay)
{
    ASSERT_TRUE(modem.EnterCommandState());
    THayesAT at;
    ASSERT_TRUE(modem.SendCommand("ATQ1E0"));
    modem.WaitForAT(5000, at);
    ASSERT_TRUE(modem.InitCommand("AT E0 Q1"));
    modem.WaitForAT(5000, at);
    EXPECT_FALSE(modem.SendCommand("ATS7=60"));  // register writes go through SetRegisterValue

    EXPECT_TRUE(modem.SetRegisterValue(2, 0));
    EXPECT_EQ(modem.GetEnterCmd(), std::string(3, '\0'));
    EXPECT_TRUE(modem.SetRegisterValue(2, 7));  // the escape character is '+' or none
    EXPECT_EQ(modem.GetEnterCmd(), "+++");
    EXPECT_TRUE(modem.SetRegisterValue(0, 2));
    EXPECT_TRUE(modem.GetModemState().Contains(msWaitingCall));

    EXPECT_EQ(played.Received(), "ATQ0\rATS2=043\rATQ0E0\rAT E0 Q0\rATS2=000\rATS2=043\rATS0=002\r");
}

TEST_F(ModemPty, NothingIsSentWithoutDSRAndAPseudoTerminalHasNoLines)
{
    lines.SetLines(msCtsOn);
    EXPECT_TRUE(modem.GetModemState().Empty());
    EXPECT_FALSE(modem.InitCommand("AT"));
    EXPECT_FALSE(modem.EnterCommandState());

    lines.SetHasLines(false);  // the pseudo-terminal's own answer: it has no modem lines
    EXPECT_TRUE(modem.GetLineStatus().Empty());
    EXPECT_FALSE(modem.GetInstalled());

    lines.SetHasLines(true);
    lines.SetLines(msDsrOn);
    ASSERT_TRUE(modem.EnterCommandState());
    EXPECT_EQ(played.Commands().front(), "ATQ0");  // the first thing the modem ever saw
}

TEST_F(ModemPty, AModemThatNeverAnswersTimesOutWithoutSpinning)
{
    ASSERT_TRUE(modem.EnterCommandState());
    played.SetAnswer(nullptr);
    ASSERT_TRUE(modem.SendCommand("AT"));
    THayesAT at;
    const uint64_t start = loop.NowMs();
    const double cpu = CpuMs();
    modem.WaitForAT(1000, at);
    const double used = CpuMs() - cpu;
    EXPECT_EQ(at.ResultCode, -1);
    EXPECT_GE(loop.NowMs() - start, 1000u);
    EXPECT_LT(used, 200.0) << "CPU ms used by a one-second wait";
}
