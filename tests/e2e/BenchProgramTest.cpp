// The runner program's bench over pseudo-terminals: simulated meters losing and spoiling answers verify to the
// protocols of clean ones in one bench; a signal stops every meter with its emulation switched off; --simulate N
// starts N different meters, and the time limit ends them all.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/ProgramRun.h"
#include "sim/BenchMeters.h"
#include "sim/MeterImage.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"

namespace rv::test {
namespace {

bool EmulationOn(sim::SimMeter& meter)
{
    const sim::MeterImage& image = meter.Image();
    const uint16_t block = image.RamPointer(8);
    return (image.ram.U8(block + 1) & 0x60) != 0 || (image.ram.U8(block + 5) & 0x60) != 0;
}

// Simulated meters on pseudo-terminals of this test process, unpaced, and the bench file that names them.
struct Simulators {
    void Add(const sim::BenchMeter& m, sim::FaultPlan faults = {})
    {
        servers.push_back(
            std::make_unique<sim::PtyMeterServer>(std::make_unique<sim::SimMeter>(m.image, faults)));
        file += servers.back()->SlavePath() + (m.sensor ? " --sensor " + std::to_string(*m.sensor) : "") + "\n";
    }
    std::string Write(const std::string& name)
    {
        const std::string path = ::testing::TempDir() + "/rivanta-bench-" + std::to_string(::getpid()) + "-" + name;
        std::ofstream(path) << file;
        return path;
    }
    bool Each(const std::function<bool(sim::SimMeter&)>& test)
    {
        bool all = true;
        for (auto& s : servers) s->WithMeter([&](sim::SimMeter& m) { all = test(m) && all; });
        return all;
    }

    std::vector<std::unique_ptr<sim::PtyMeterServer>> servers;
    std::string file;
};

// The protocols of standard output, by port: the lines under "=== PORT ===" up to the next port or the summary,
// without the empty line that parts them.
std::map<std::string, std::string> Protocols(const std::string& out)
{
    std::map<std::string, std::string> protocols;
    std::istringstream in(out);
    std::string line, port;
    while (std::getline(in, line)) {
        if (line.rfind("=== ", 0) == 0 && line.size() > 8) {
            port = line.substr(4, line.size() - 8);
            continue;
        }
        if (line.rfind("Порт ", 0) == 0) break;
        if (!port.empty()) protocols[port] += line + "\n";
    }
    for (auto& [name, text] : protocols)
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\n\n") == 0) text.pop_back();
    return protocols;
}

// The summary rows of standard output (the table's heading left out).
std::vector<std::string> SummaryRows(const std::string& out)
{
    const size_t at = out.find("Порт ");
    std::vector<std::string> rows;
    if (at == std::string::npos) return rows;
    std::istringstream in(out.substr(at));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) rows.push_back(line);
    return rows;
}

// 10 % of the answers lost and 5 % with a spoilt checksum cost repetitions, never a different protocol: four such
// meters and four clean ones of the same kinds, all on one bench.
TEST(BenchProgram, MetersLosingAndSpoilingAnswersVerifyToTheProtocolsOfCleanOnes)
{
    Simulators faulty, clean;
    const std::vector<sim::BenchMeter> kinds = sim::BenchMeters(4);
    for (size_t i = 0; i < kinds.size(); ++i) {
        sim::FaultPlan faults;
        faults.seed = static_cast<uint32_t>(i + 7);
        faults.dropAnswer = 0.10;
        faults.badChecksum = 0.05;
        faulty.Add(kinds[i], faults);
        // The same meter anew for the clean line.
        sim::BenchMeter twin = sim::BenchMeters(4)[i];
        clean.Add(twin);
    }
    const std::string path = clean.Write("both.txt");
    std::ofstream(path, std::ios::app) << faulty.file;
    const Outcome o = RunProgram("--bench " + path + " --no-journal");
    EXPECT_EQ(o.status, 0) << o.err.substr(o.err.size() > 3000 ? o.err.size() - 3000 : 0);
    const std::map<std::string, std::string> protocols = Protocols(o.out);
    for (size_t i = 0; i < kinds.size(); ++i) {
        const std::string& port = faulty.servers[i]->SlavePath();
        const std::string& twin = clean.servers[i]->SlavePath();
        ASSERT_TRUE(protocols.count(port) && protocols.count(twin)) << o.out;
        EXPECT_EQ(protocols.at(port), protocols.at(twin)) << port;
        EXPECT_NE(protocols.at(port).find("Допустимая погрешность"), std::string::npos);
        // The faults did happen, and cost repetitions on that meter's line only.
        EXPECT_NE(o.err.find(port + ": Переповторы"), std::string::npos) << port;
        EXPECT_EQ(o.err.find(twin + ": Переповторы"), std::string::npos) << twin;
    }
    const std::vector<std::string> rows = SummaryRows(o.out);
    ASSERT_EQ(rows.size(), 8u) << o.out;
    for (const std::string& row : rows) EXPECT_NE(row.find("  годен  "), std::string::npos) << row;
    std::remove(path.c_str());
}

// SIGINT in the sweep stops every meter as its "Стоп" would: each switches its emulation off, and the program ends
// with status 5 once all have.
TEST(BenchProgram, ASignalStopsEveryMeterWithItsEmulationOff)
{
    Simulators sims;
    for (const sim::BenchMeter& m : sim::BenchMeters(3)) sims.Add(m);
    const std::string path = sims.Write("signal.txt");
    const std::string outPath = path + ".out", errPath = path + ".err";
    const pid_t pid = StartProgram("--bench " + path + " --no-journal", outPath, errPath);
    ASSERT_GT(pid, 0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!sims.Each(EmulationOn) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(sims.Each(EmulationOn)) << ReadText(errPath);
    ::kill(pid, SIGINT);
    EXPECT_EQ(FinishProgram(pid), 5) << ReadText(errPath);
    EXPECT_TRUE(sims.Each([](sim::SimMeter& m) { return !EmulationOn(m); }));
    const std::string out = ReadText(outPath);
    const std::vector<std::string> rows = SummaryRows(out);
    ASSERT_EQ(rows.size(), 3u) << out;
    for (const std::string& row : rows)
        EXPECT_NE(row.find("не завершена: Поверка прервана: получен сигнал завершения."), std::string::npos) << row;
    for (const auto& [port, protocol] : Protocols(out))
        EXPECT_NE(protocol.find("Поверка прервана: получен сигнал завершения ("), std::string::npos) << port;
    for (const std::string& p : {path, outPath, errPath}) std::remove(p.c_str());
}

// --simulate N: N meters of different kinds, serial numbers and sensors; --timeout ends them all.
TEST(BenchProgram, SimulateStartsDifferentMetersAndTheTimeLimitEndsThemAll)
{
    const Outcome o = RunProgram("--simulate 3 --timeout 12 --no-journal");
    EXPECT_EQ(o.status, 5) << o.err;
    const std::vector<std::string> rows = SummaryRows(o.out);
    ASSERT_EQ(rows.size(), 3u) << o.out;
    EXPECT_NE(rows[0].find("  21345    FS-25S   не завершена: Поверка прервана: истекло время работы, 12 с."),
              std::string::npos)
        << rows[0];
    EXPECT_NE(rows[1].find("  30412    FS-150T  "), std::string::npos) << rows[1];
    EXPECT_NE(rows[2].find("  40877    FS-32S   "), std::string::npos) << rows[2];
    EXPECT_EQ(Protocols(o.out).size(), 3u);
    EXPECT_NE(o.err.find("Остановка стенда: истекло время работы, 12 с"), std::string::npos);
}

}  // namespace
}  // namespace rv::test
