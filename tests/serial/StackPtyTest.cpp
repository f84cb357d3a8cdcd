// The whole line over pseudo-terminals: the engine, the device link and the driver against the
// simulated meter served on a pty, in process and as the rivanta-meter-sim program: identity, the
// 392-byte configuration and the six 310-byte sensor records, with echo, paced, and through faults.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/PosixLoop.h"
#include "protocol/TRurIvaQs.h"
#include "serial/TNewDevCom.h"
#include "sim/BenchMeters.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"

extern char** environ;

using namespace rv;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kConfig = 0x100;
uint32_t SensorAt(int i)
{
    return 0x300u + 0x200u * static_cast<uint32_t>(i);
}

// The connection and read chain of the main window: identity, then the configuration in reads of
// 100, 100 and 192 bytes, then each sensor record in reads of 100, 100 and 110 bytes.
class Connection {
public:
    Connection(PosixLoop& loop, const std::string& port, bool echo, int timeOutMs)
        : loop_(loop), link_(nullptr, &loop), engine_(nullptr, &loop)
    {
        engine_.SetDeviceComm(&link_);
        engine_.SetMasterNetAddress(0xF0);
        engine_.SetSlaveNetAddress(0xC9);
        engine_.SetReceiving_back(echo);
        engine_.SetTimeOut(timeOutMs);
        engine_.SetTimePackage(1);
        engine_.OnReceivedIDDevice = [this](const SIDDevice* d) {
            identity = *d;
            engine_.OnReceiveExecuted = [this](short n, unsigned char* b) { Next(n, b); };
            step_ = 0;
            engine_.ReadFlash(kConfig, 100);
        };
        link_.SetCommNet(port);
        engine_.BreakTransmit();
        EXPECT_TRUE(engine_.Initialization());
        link_.SetOpen(true);
        EXPECT_TRUE(link_.GetOpen()) << link_.GetOpenError();
        loop_.Sleep(100);
        link_.SetDTR(true);
        loop_.Sleep(100);
        link_.SetRTS(true);
    }
    ~Connection()
    {
        engine_.BreakTransmit();
        link_.SetOpen(false);
    }

    // Runs the chain to its end; false when it did not end within limitMs.
    bool Read(uint64_t limitMs)
    {
        engine_.GetDeviceID();
        return loop_.RunUntil([this] { return done_; }, limitMs);
    }

    TRurIvaQs& Engine() { return engine_; }
    SIDDevice identity{};
    Bytes config;
    Bytes sensors[6];

private:
    void Next(short n, const unsigned char* b)
    {
        Bytes& into = step_ < 3 ? config : sensors[sensor_];
        into.insert(into.end(), b, b + n);
        switch (step_) {
            case 0:
                engine_.ReadFlashLarge(kConfig + 100, 100);
                break;
            case 1:
                engine_.ReadFlashLarge(kConfig + 200, 192);
                break;
            case 2:
            case 5:
                if (step_ == 5) ++sensor_;
                if (sensor_ == 6) {
                    done_ = true;
                    return;
                }
                step_ = 3;
                engine_.ReadFlashLarge(SensorAt(sensor_), 100);
                return;
            case 3:
                engine_.ReadFlashLarge(SensorAt(sensor_) + 100, 100);
                break;
            case 4:
                engine_.ReadFlashLarge(SensorAt(sensor_) + 200, 110);
                break;
        }
        ++step_;
    }

    PosixLoop& loop_;
    TNewDevCom link_;
    TRurIvaQs engine_;
    int step_ = 0;
    int sensor_ = 0;
    bool done_ = false;
};

Bytes Flash(const sim::MeterImage& image, uint32_t addr, size_t n)
{
    Bytes out(n);
    image.flash.Read(addr, out.data(), n);
    return out;
}

void ExpectMeterRead(const Connection& c, const sim::MeterImage& image)
{
    EXPECT_EQ(c.identity.SerialNumber, image.SerialNumber());
    EXPECT_EQ(c.config, Flash(image, kConfig, 392));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(c.sensors[i], Flash(image, SensorAt(i), 310)) << "sensor " << i;
}

std::unique_ptr<sim::PtyMeterServer> Serve(std::shared_ptr<sim::MeterImage> image, sim::FaultPlan faults,
                                           sim::PtyMeterOptions options)
{
    return std::make_unique<sim::PtyMeterServer>(std::make_unique<sim::SimMeter>(image, faults), std::move(options));
}

}  // namespace

TEST(StackOverPty, ReadsTheMeterWithEchoAndWithout)
{
    for (bool echo : {true, false}) {
        SCOPED_TRACE(echo ? "echo" : "no echo");
        PosixLoop loop;
        auto image = sim::DefaultMeter();
        sim::PtyMeterOptions options;
        options.echo = echo;
        auto server = Serve(image, {}, options);
        Connection c(loop, server->SlavePath(), echo, 1500);
        ASSERT_TRUE(c.Read(20000));
        ExpectMeterRead(c, *image);
        EXPECT_EQ(c.Engine().GetRepetitionCounter(), 0);
        // The identity and 21 reads; the server counts an exchange once its answer is written, which
        // may be just after the client has it.
        EXPECT_TRUE(loop.RunUntil([&] { return server->Exchanges() == 22u; }, 2000)) << server->Exchanges();
    }
}

TEST(StackOverPty, APacedLineTakesAtLeastItsLineTime)
{
    PosixLoop loop;
    auto image = sim::DefaultMeter();
    sim::PtyMeterOptions options;
    options.baud = 115200;
    options.turnaroundUs = 500;
    auto server = Serve(image, {}, options);
    Connection c(loop, server->SlavePath(), true, 1500);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(c.Read(20000));
    const double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    ExpectMeterRead(c, *image);
    // 22 requests of 7..11 bytes, answers of 19 and L + 5 bytes, at 86.8 us a byte, and 22 turnarounds.
    EXPECT_GT(server->LineTimeMs(), 200.0);
    EXPECT_GE(wallMs, server->LineTimeMs());
    std::printf("paced at 115200: %.1f ms wall for %.1f ms of line time\n", wallMs, server->LineTimeMs());
}

TEST(StackOverPty, ReadsTheMeterThroughTenPercentFaults)
{
    PosixLoop loop;
    auto image = sim::DefaultMeter();
    sim::FaultPlan faults;
    faults.seed = 11;
    faults.dropAnswer = 0.03;
    faults.badChecksum = 0.03;
    faults.garbage = 0.02;
    faults.late = 0.02;
    faults.lateMs = 450;  // arrives while the repetition waits for its own answer
    std::vector<sim::PtyExchange> log;
    std::mutex mu;
    sim::PtyMeterOptions options;
    options.onExchange = [&](const sim::PtyExchange& e) {
        std::lock_guard<std::mutex> lk(mu);
        log.push_back(e);
    };
    auto server = Serve(image, faults, options);
    Connection c(loop, server->SlavePath(), true, 300);
    std::vector<std::string> discarded;
    c.Engine().SetTraceHook([&](const TraceRecord& r) {
        if (r.kind == TraceKind::Discarded) discarded.emplace_back(r.data, r.data + r.size);
    });
    ASSERT_TRUE(c.Read(60000));
    ExpectMeterRead(c, *image);
    std::lock_guard<std::mutex> lk(mu);
    int faulty = 0;
    for (const auto& e : log)
        faulty += e.fault.dropped || e.fault.badChecksum || e.fault.garbageBytes > 0 || e.fault.delayMs > 0;
    EXPECT_GT(faulty, 0);
    EXPECT_GT(c.Engine().GetRepetitionCounter(), 0);
    std::printf("%zu exchanges, %d faulty, %d repetitions, %zu discards\n", log.size(), faulty,
                c.Engine().GetRepetitionCounter(), discarded.size());
}

#ifdef RIVANTA_METER_SIM
namespace {

// The simulator program with its standard output on a pipe.
class SimProgram {
public:
    explicit SimProgram(std::vector<std::string> args)
    {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
        args.insert(args.begin(), RIVANTA_METER_SIM);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int r = posix_spawn(&pid_, RIVANTA_METER_SIM, &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        out_ = fds[0];
        if (r != 0) throw std::runtime_error("cannot start the simulator");
    }
    ~SimProgram()
    {
        if (pid_ > 0) Stop();
        close(out_);
    }
    // The next line of output, or empty after ms without one.
    std::string Line(int ms)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const size_t nl = buf_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
            char b[256];
            const ssize_t n = read(out_, b, sizeof b);
            if (n <= 0) return {};
            buf_.append(b, static_cast<size_t>(n));
        }
    }
    // SIGTERM; the exit status.
    int Stop()
    {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buf_;
};

}  // namespace

TEST(StackOverPty, TheSimulatorProgramServesTheMeterAndLogsEachExchange)
{
    const std::string logPath = ::testing::TempDir() + "rivanta-meter-sim.log";
    SimProgram sim({"--seed", "5", "--drop", "0.05", "--bad-checksum", "0.05", "--log", logPath});
    const std::string port = sim.Line(5000);
    ASSERT_EQ(port.rfind("/dev/", 0), 0u) << port;
    {
        PosixLoop loop;
        Connection c(loop, port, true, 300);
        ASSERT_TRUE(c.Read(60000));
        ExpectMeterRead(c, *sim::DefaultMeter());
    }
    const int status = sim.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    unsigned long long exchanges = 0;
    double lineMs = -1;
    const std::string summary = sim.Line(2000);
    ASSERT_EQ(std::sscanf(summary.c_str(), "exchanges %llu, line time bound %lf ms", &exchanges, &lineMs), 2)
        << summary;
    EXPECT_GE(exchanges, 22u);

    std::ifstream log(logPath);
    std::string line;
    unsigned long long lines = 0, faulty = 0;
    while (std::getline(log, line)) {
        ++lines;
        EXPECT_NE(line.find(" req "), std::string::npos) << line;
        if (line.find("fault -") == std::string::npos) ++faulty;
    }
    EXPECT_EQ(lines, exchanges);
    EXPECT_GT(faulty, 0u);
}

// With --count the program serves a bench: a pseudo-terminal per meter, each path on a line of its own, each meter
// of its own kind and serial number, and the bench file names each port with the sensor to verify.
TEST(StackOverPty, TheSimulatorProgramServesABenchOfMetersEachOnItsOwnTerminal)
{
    const std::string benchPath =
        ::testing::TempDir() + "rivanta-meter-sim-bench-" + std::to_string(::getpid()) + ".txt";
    SimProgram sim({"--count", "4", "--bench-file", benchPath});
    std::vector<std::string> ports;
    for (int i = 0; i < 4; ++i) ports.push_back(sim.Line(5000));
    const std::vector<sim::BenchMeter> meters = sim::BenchMeters(4);
    for (size_t i = 0; i < ports.size(); ++i) {
        ASSERT_EQ(ports[i].rfind("/dev/", 0), 0u) << ports[i];
        PosixLoop loop;
        Connection c(loop, ports[i], true, 300);
        ASSERT_TRUE(c.Read(60000)) << ports[i];
        ExpectMeterRead(c, *meters[i].image);
    }
    EXPECT_EQ(meters[0].image->SerialNumber(), 21345u);
    EXPECT_EQ(meters[3].image->SerialNumber(), 21346u);
    EXPECT_EQ(meters[3].sensor, 1);

    std::ifstream bench(benchPath);
    std::string line;
    std::getline(bench, line);
    EXPECT_EQ(line.rfind("#", 0), 0u);
    for (size_t i = 0; i < ports.size(); ++i) {
        ASSERT_TRUE(std::getline(bench, line));
        EXPECT_EQ(line, ports[i] + " --sensor " + std::to_string(meters[i].sensor.value_or(-1)));
    }
    const int status = sim.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (size_t i = 0; i < ports.size(); ++i) EXPECT_EQ(sim.Line(2000).rfind(ports[i] + ": exchanges ", 0), 0u);
    std::remove(benchPath.c_str());
}
#endif
