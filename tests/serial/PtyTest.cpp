// The driver on real pseudo-terminals: the settings as the far side reads them, data both ways, the
// read time-out, handlers that read, the text wait, exclusive opening, a device that vanishes, and a
// close while a hand-over waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "core/PosixLoop.h"
#include "fakes/Pty.h"
#include "serial/CommErrors.h"
#include "serial/TNewDevCom.h"
#include "serial/TXComm.h"

using namespace rv;
using rv::test::Pty;

namespace {

double CpuMs(int who = RUSAGE_SELF)
{
    rusage u{};
    getrusage(who, &u);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

bool WaitUntil(const std::function<bool()>& cond, int ms = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Newer kernels force 8 data bits without parity on pseudo-terminals; there only the rate, the stop
// bits and the raw mode can be read back.
bool PtyKeepsCharacterFormat()
{
    Pty probe;
    termios t{};
    const int fd = open(probe.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return false;
    tcgetattr(fd, &t);
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB;
    tcsetattr(fd, TCSANOW, &t);
    tcgetattr(fd, &t);
    close(fd);
    return (t.c_cflag & PARENB) && (t.c_cflag & CSIZE) == CS7;
}

class PtyPort : public ::testing::Test {
protected:
    PtyPort() { comm.SetDeviceName(pty.SlavePath()); }

    Pty pty;
    TXComm comm;
};

}  // namespace

TEST_F(PtyPort, TheFarSideSeesTheSettingsTheDriverApplied)
{
    struct Case {
        TBaudRate rate;
        uint32_t value;
        TDataBits bits;
        TParity parity;
        TStopBits stop;
        int byteSize;
        char parityChar;
        int stopBits;
    };
    const Case cases[] = {
        {br4800, 4800, db8, paNone, sb1, 8, 'N', 1},    {br9600, 9600, db7, paEven, sb2, 7, 'E', 2},
        {br115200, 115200, db8, paOdd, sb1, 8, 'O', 1}, {br56000, 56000, db8, paNone, sb1, 8, 'N', 1},
        {brCustom, 31250, db8, paMark, sb1, 8, 'M', 1},
    };
    const bool format = PtyKeepsCharacterFormat();
    if (!format) std::printf("this kernel's pseudo-terminals keep no parity or character size: not compared\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        comm.SetBaudRate(c.rate);
        comm.SetBaudValue(c.value);
        comm.GetDataControl().SetDataBits(c.bits);
        comm.GetDataControl().SetParity(c.parity);
        comm.GetDataControl().SetStopBits(c.stop);
        comm.OpenDevice();
        const Pty::Settings s = pty.ReadSettings();
        EXPECT_EQ(s.rate, c.value);
        if (format) {
            EXPECT_EQ(s.byteSize, c.byteSize);
            EXPECT_EQ(s.parity, c.parityChar);
            EXPECT_EQ(comm.GetDataControl().GetParity(), c.parity);
        }
        EXPECT_EQ(s.stopBits, c.stopBits);
        EXPECT_TRUE(s.raw);
        EXPECT_EQ(comm.GetBaudValue(), c.value);
        EXPECT_EQ(comm.GetBaudRate(), c.rate);
        comm.CloseDevice();
    }
}

TEST_F(PtyPort, BytesGoBothWaysAndAReadEndsAfterItsTimeOutWithWhatCame)
{
    comm.SetSynchronize(false);
    comm.OpenDevice();
    const std::string all = std::string("\x00\x01\xFF\r\n", 5) + "text";
    EXPECT_EQ(comm.SendData(all.data(), static_cast<uint32_t>(all.size())), all.size());
    EXPECT_EQ(pty.Read(all.size(), 2000), all);

    pty.Write("abc");
    comm.GetBuffers().SetInputTimeout(300);
    char buf[5] = {};
    const double cpu0 = CpuMs(RUSAGE_THREAD);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(comm.ReadData(buf, 5), 3u);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
    EXPECT_LT(CpuMs(RUSAGE_THREAD) - cpu0, 100.0);  // waited in poll, not in a loop
    EXPECT_EQ(std::string(buf, 3), "abc");
    comm.CloseDevice();
}

TEST_F(PtyPort, AnOnDataHandlerReadsWhileOnReadIsLocked)
{
    comm.SetSynchronize(false);
    std::mutex mu;
    std::string got;
    std::atomic<int> locked{0};
    comm.OnData = [&](TObject*, uint32_t n) {
        std::string s(n, '\0');
        s.resize(comm.ReadData(s.data(), n));
        std::lock_guard<std::mutex> lk(mu);
        got += s;
    };
    comm.OnRead = [&](TObject*) {
        char c;
        try {
            comm.ReadData(&c, 1);
        } catch (const EDeviceError& e) {
            if (e.ErrorCode == ecLockedRead) ++locked;
        }
    };
    comm.OpenDevice();
    pty.Write("xyz");
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lk(mu);
        return got == "xyz";
    }));
    EXPECT_GE(locked, 1);
    comm.CloseDevice();
}

TEST_F(PtyPort, WaitForStringFindsItsTextAndSilencesDataEvents)
{
    comm.SetSynchronize(false);
    std::atomic<int> data{0};
    comm.OnData = [&](TObject*, uint32_t) { ++data; };
    comm.OpenDevice();
    std::thread farEnd([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write("AT\r\r\nO");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.Write("K\r\n");
    });
    EXPECT_TRUE(comm.WaitForString({"ERROR", "OK\r"}, 3000));
    farEnd.join();
    EXPECT_EQ(data, 0);
    EXPECT_FALSE(comm.WaitForString({"never"}, 100));
    comm.CloseDevice();
}

TEST_F(PtyPort, ASecondOpenOfThePortIsRefused)
{
    comm.OpenDevice();
    TXComm second;
    second.SetDeviceName(pty.SlavePath());
    try {
        second.OpenDevice();
        FAIL() << "opened twice";
    } catch (const EDeviceError& e) {
        EXPECT_EQ(e.ErrorCode, ecDOpenError);
    }
    EXPECT_FALSE(second.GetOpened());

    PosixLoop loop;
    TNewDevCom link(nullptr, &loop);
    link.SetCommNet(pty.SlavePath());
    link.SetOpen(true);
    EXPECT_FALSE(link.GetOpen());
    EXPECT_EQ(link.GetOpenError(),
              "Не возможно открыть устройство " + pty.SlavePath() + ": порт занят другой программой");
    comm.CloseDevice();
    link.SetOpen(true);
    EXPECT_TRUE(link.GetOpen());
}

TEST_F(PtyPort, TheFarSideClosingEndsTheEventThreadAsADeviceFailureWithoutSpinning)
{
    comm.SetSynchronize(false);
    std::atomic<int> lost{0};
    comm.OnDeviceLost = [&](TObject*) { ++lost; };
    comm.OpenDevice();
    pty.Write("last words");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return lost > 0; }));
    const double cpu0 = CpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_LT(CpuMs() - cpu0, 100.0);  // nothing keeps polling a dead device
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(comm.GetDeviceLost());
    comm.CloseDevice();
    EXPECT_FALSE(comm.GetOpened());
}

TEST_F(PtyPort, ClosingWhileAHandOverWaitsForTheLoopDoesNotDeadlock)
{
    PosixLoop loop;
    std::atomic<int> calls{0};
    comm.OnData = [&](TObject*, uint32_t) { ++calls; };
    comm.OpenDevice();
    pty.Write("x");
    // The loop is not run: the event thread sits in its hand-over until the close serves it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    comm.CloseDevice();
    EXPECT_EQ(calls, 0);
}

TEST_F(PtyPort, TheLinkClosesAVanishedPortAndSaysSo)
{
    PosixLoop loop;
    TNewDevCom link(nullptr, &loop);
    link.SetCommNet(pty.SlavePath());
    int lost = 0;
    link.OnDeviceLost = [&](TObject*) { ++lost; };
    link.SetReceiveType(rtPacket);
    link.SetOpen(true);
    ASSERT_TRUE(link.GetOpen());
    pty.CloseMaster();
    ASSERT_TRUE(loop.RunUntil([&] { return lost > 0; }, 5000));
    EXPECT_FALSE(link.GetOpen());
    EXPECT_EQ(link.GetDeviceLostReason(),
              "Порт " + pty.SlavePath() + " больше не доступен: устройство отключено или неисправно.");
    const double cpu0 = CpuMs();
    loop.RunFor(300);
    EXPECT_LT(CpuMs() - cpu0, 100.0);
    EXPECT_EQ(lost, 1);
}
