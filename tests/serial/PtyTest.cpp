// The driver on real pseudo-terminals: the settings as the far side reads them, data both ways, the
// read time-out, handlers that read, the text wait, exclusive opening, refusing what is no serial port, a
// device that vanishes, a close while a hand-over waits, and the receive threshold that wakes the link once
// per packet.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/PosixLoop.h"
#include "fakes/Pty.h"
#include "serial/CommErrors.h"
#include "serial/TNewDevCom.h"
#include "serial/TXComm.h"
#include "serial/TXModem.h"

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
    // An event taken during the wait may still be handed over just after it, when the bytes are gone:
    // only events that find bytes to read count, and nothing follows the text awaited.
    comm.OnData = [&](TObject*, uint32_t n) {
        if (n) ++data;
    };
    comm.OpenDevice();
    std::thread farEnd([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write("AT\r\r\nO");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.Write("K\r");
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
    EXPECT_EQ(link.GetOpenError(), "порт занят другой программой");
    comm.CloseDevice();
    link.SetOpen(true);
    EXPECT_TRUE(link.GetOpen());
}

TEST_F(PtyPort, WhatIsNotASerialPortIsRefusedAtOpenAndAPseudoTerminalIsNot)
{
    char dir[] = "/tmp/rivanta-not-a-port-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const auto create = [&](const char* name, mode_t mode) {
        const std::string path = std::string(dir) + name;
        const int fd = open(path.c_str(), O_CREAT | O_WRONLY, mode);
        EXPECT_GE(fd, 0) << path;
        close(fd);
        return path;
    };
    const std::string file = create("/port", 0600);
    const std::string readOnly = create("/read-only", 0400);  // not even the rights are the question

    PosixLoop loop;
    for (const std::string& path :
         {std::string("/dev/null"), std::string("/dev/zero"), file, std::string(dir), readOnly}) {
        SCOPED_TRACE(path);
        TNewDevCom link(nullptr, &loop);
        link.SetCommNet(path);
        link.SetOpen(true);
        EXPECT_FALSE(link.GetOpen());
        EXPECT_EQ(link.GetOpenError(), "это не последовательный порт");
        TXComm driver;
        driver.SetDeviceName(path);
        try {
            driver.OpenDevice();
            ADD_FAILURE() << "opened";
        } catch (const EDeviceError& e) {
            EXPECT_EQ(e.ErrorCode, ecDOpenError);
        }
        EXPECT_FALSE(driver.GetOpened());
    }
    std::remove(file.c_str());
    std::remove(readOnly.c_str());
    rmdir(dir);

    TNewDevCom link(nullptr, &loop);
    link.SetCommNet(pty.SlavePath());
    link.SetOpen(true);
    EXPECT_TRUE(link.GetOpen());
    EXPECT_EQ(link.GetOpenError(), "");
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

TEST_F(PtyPort, APacketArrivingByteByByteIsHandedOverOnceAndAShortOneWaitsForTheNextTransmission)
{
    PosixLoop loop;
    TNewDevCom link(nullptr, &loop);
    link.SetCommNet(pty.SlavePath());
    std::vector<std::string> packets, discarded;
    link.SetOnReceivePacket([&](unsigned char* d, int n) { packets.emplace_back(d, d + n); });
    TraceHook hook = [&](const TraceRecord& r) {
        if (r.kind == TraceKind::Discarded) discarded.emplace_back(r.data, r.data + r.size);
    };
    link.SetTraceHook(&hook);
    link.SetLengthPacket(10);
    link.SetReceiveType(rtPacket);
    link.SetOpen(true);
    ASSERT_TRUE(link.GetOpen());
    int handovers = 0;
    const TDataEvent cut = link.GetDevice().OnData;
    link.GetDevice().OnData = [&](TObject* s, uint32_t n) {
        ++handovers;
        cut(s, n);
    };

    std::thread farEnd([&] {
        for (char c : std::string("0123456789")) {
            pty.Write(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    const bool cut1 = loop.RunUntil([&] { return !packets.empty(); }, 5000);
    farEnd.join();
    ASSERT_TRUE(cut1);
    loop.RunFor(50);
    EXPECT_EQ(packets, (std::vector<std::string>{"0123456789"}));
    EXPECT_EQ(handovers, 1);

    // Four bytes of an answer cut short never complete the packet; the next transmission reads them
    // and reports them thrown away.
    pty.Write("abcd");
    loop.RunFor(100);
    EXPECT_EQ(handovers, 1);
    link.Transmit_Packed("REQ", 3);
    EXPECT_EQ(discarded, (std::vector<std::string>{"abcd"}));
    EXPECT_EQ(pty.Read(3, 2000), "REQ");
    pty.Write("0123456789");
    ASSERT_TRUE(loop.RunUntil([&] { return packets.size() == 2; }, 5000));
    link.SetOpen(false);
    link.SetTraceHook(nullptr);
}

namespace {

// Voluntary context switches of this process's threads, but for one (the test's far end).
long WakeUps(pid_t except)
{
    long sum = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (std::stol(task.path().filename().string()) == except) continue;
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) sum += std::stol(line.substr(24));
    }
    return sum;
}

}  // namespace

TEST_F(PtyPort, TheReceiveThresholdOutlivesSettingsChangesAndAReadMinimumLeftOnThePortIsIgnored)
{
    // Another program left the port holding back input until 5 bytes are queued.
    {
        const int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        t.c_cc[VMIN] = 5;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &t);
        close(fd);
    }
    ASSERT_EQ(pty.ReadSettings().vmin, 5);
    comm.SetSynchronize(false);
    std::mutex mu;
    std::vector<uint32_t> reports;
    comm.OnData = [&](TObject*, uint32_t n) {
        std::lock_guard<std::mutex> lk(mu);
        reports.push_back(n);
    };
    auto seen = [&] {
        std::lock_guard<std::mutex> lk(mu);
        return reports;
    };
    comm.SetReceiveThreshold(12);
    comm.OpenDevice();
    EXPECT_EQ(pty.ReadSettings().vmin, 0);
    comm.SetBaudRate(br19200);  // the whole control block is written again
    EXPECT_EQ(pty.ReadSettings().rate, 19200u);
    pty.Write(std::string(11, 'a'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(seen().empty());
    pty.Write("b");
    ASSERT_TRUE(WaitUntil([&] { return !seen().empty(); }));
    EXPECT_EQ(seen(), std::vector<uint32_t>{12});
    char buf[12];
    EXPECT_EQ(comm.ReadDataEx(buf, 12, 100), 12u);
    // Lowered below what is already held: reported without another byte.
    comm.SetReceiveThreshold(4);
    pty.Write("ccc");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(seen().size(), 1u);
    comm.SetReceiveThreshold(2);
    ASSERT_TRUE(WaitUntil([&] { return seen().size() == 2; }));
    EXPECT_EQ(seen().back(), 3u);
    comm.CloseDevice();
    EXPECT_EQ(pty.ReadSettings().vmin, 0);
}

TEST_F(PtyPort, APacketTricklingInAtTheLinesPaceWakesTheProcessAFewTimesNotOnceAByte)
{
    PosixLoop loop;
    TNewDevCom link(nullptr, &loop);
    link.SetCommNet(pty.SlavePath());
    link.SetBaudRate(br4800);
    std::vector<std::string> packets;
    link.SetOnReceivePacket([&](unsigned char* d, int n) { packets.emplace_back(d, d + n); });
    const std::string packet(120, 'p');
    link.SetLengthPacket(static_cast<int>(packet.size()));
    link.SetReceiveType(rtPacket);
    link.SetOpen(true);
    ASSERT_TRUE(link.GetOpen());
    std::atomic<pid_t> writer{0};
    std::atomic<bool> go{false};
    // One character's line time at 4800 baud, 8N1: about 2.1 ms.
    std::thread farEnd([&] {
        writer = static_cast<pid_t>(gettid());
        while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (char c : packet) {
            pty.Write(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::microseconds(2083));
        }
    });
    WaitUntil([&] { return writer != 0; });
    loop.RunFor(20);
    const long before = WakeUps(writer);
    go = true;
    const bool cut = loop.RunUntil([&] { return !packets.empty(); }, 10000);
    const long wakeUps = WakeUps(writer) - before;
    farEnd.join();
    ASSERT_TRUE(cut);
    EXPECT_EQ(packets, std::vector<std::string>{packet});
    // Woken once a byte this would be 120 and more; a sleep through the rest's line time is a few.
    EXPECT_LT(wakeUps, 40) << wakeUps;
    link.SetOpen(false);
}

TEST_F(PtyPort, ReadsAndTextWaitsAreNotHeldBackByTheThreshold)
{
    comm.SetSynchronize(false);
    comm.SetReceiveThreshold(50);
    comm.OpenDevice();
    std::thread farEnd([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write("x");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write("OK\r");
    });
    char c = 0;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(comm.ReadDataEx(&c, 1, 4000), 1u);
    // The byte ended the wait, not the time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(3000));
    EXPECT_EQ(c, 'x');
    EXPECT_TRUE(comm.WaitForString({"OK\r"}, 4000));
    farEnd.join();
    comm.CloseDevice();
}

TEST_F(PtyPort, AVanishedDeviceIsReportedAtOnceWhileAPacketIsIncomplete)
{
    PosixLoop loop;
    TNewDevCom link(nullptr, &loop);
    link.SetCommNet(pty.SlavePath());
    int lost = 0;
    link.OnDeviceLost = [&](TObject*) { ++lost; };
    link.SetLengthPacket(50);
    link.SetReceiveType(rtPacket);
    link.SetOpen(true);
    ASSERT_TRUE(link.GetOpen());
    pty.Write("abc");
    loop.RunFor(50);
    pty.CloseMaster();
    ASSERT_TRUE(loop.RunUntil([&] { return lost > 0; }, 5000));
    EXPECT_FALSE(link.GetOpen());
}
