// The runner's bench job in virtual time: the options that make a bench, the meters they name, and the job from the
// start of every meter to the summary table and the exit status, a stop of all of them included.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "app/CommaSeparator.h"
#include "app/MainRig.h"
#include "app/runner/TBenchRun.h"
#include "e2e/E2eSupport.h"
#include "e2e/RunnerRigs.h"
#include "fakes/MemoryLineSupport.h"

namespace rv::test {
namespace {

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The bench job over in-memory lines: a simulated meter per port.
class BenchJobRig {
public:
    BenchJobRig(const std::vector<std::string>& args, const std::vector<sim::MeterDescription>& descriptions)
        : options(Options(args))
    {
        std::vector<SBenchMeterOptions> meters;
        std::string error;
        EXPECT_TRUE(TBenchRun::MetersOf(options, meters, error)) << error;
        for (size_t i = 0; i < meters.size(); ++i) {
            auto image = sim::BuildMeter(descriptions.at(i));
            sims[meters[i].Port] = std::make_unique<sim::SimMeter>(image);
            images.push_back(image);
        }
        run = std::make_unique<TBenchRun>(meters, options, out, err);
        run->OnFinished = [this](int code) { exit = code; };
    }
    int Run(uint64_t limitMs = 3'600'000)
    {
        Start();
        EXPECT_TRUE(loop.RunUntil([&] { return exit >= 0; }, limitMs));
        return exit;
    }
    void Start()
    {
        run->Start(
            loop,
            [this](const SBenchMeterOptions& o) {
                auto line = std::make_unique<sim::MemoryLine>(*sims.at(o.Port), &loop);
                line->SetOpen(false);
                return line;
            },
            nullptr, {});
    }

    VirtualLoop loop;
    SVerifyOptions options;
    std::map<std::string, std::unique_ptr<sim::SimMeter>> sims;
    std::vector<std::shared_ptr<sim::MeterImage>> images;
    std::ostringstream out, err;
    std::unique_ptr<TBenchRun> run;
    int exit = -1;
};

TEST(BenchOptions, SeveralPortsABenchFileAReportFolderOrSeveralSimulatorsMakeABench)
{
    SVerifyOptions o;
    std::string error;
    ASSERT_TRUE(ParseVerifyOptions({"--port", "COM1"}, o, error)) << error;
    EXPECT_FALSE(IsBench(o));
    ASSERT_TRUE(ParseVerifyOptions({"--simulate"}, o, error)) << error;
    EXPECT_FALSE(IsBench(o));
    ASSERT_TRUE(ParseVerifyOptions({"--simulate", "1", "--reverse"}, o, error)) << error;
    EXPECT_FALSE(IsBench(o));
    EXPECT_TRUE(o.Reverse);
    ASSERT_TRUE(ParseVerifyOptions({"--port", "COM1", "--port", "/dev/ttyUSB0", "--sensor", "2"}, o, error)) << error;
    EXPECT_TRUE(IsBench(o));
    EXPECT_EQ(o.Ports, (std::vector<std::string>{"COM1", "/dev/ttyUSB0"}));
    EXPECT_EQ(o.Port, "COM1");
    ASSERT_TRUE(ParseVerifyOptions({"--simulate", "4"}, o, error)) << error;
    EXPECT_TRUE(IsBench(o));
    EXPECT_EQ(o.SimulateCount, 4);
    ASSERT_TRUE(ParseVerifyOptions({"--simulate=16", "--meter", "three-path"}, o, error)) << error;
    EXPECT_EQ(o.SimulateCount, 16);
    ASSERT_TRUE(ParseVerifyOptions({"--bench", "b.txt"}, o, error)) << error;
    EXPECT_TRUE(IsBench(o));
    // The value of an option is never taken for --simulate: one meter on a port of that odd name.
    SVerifyOptions odd;
    ASSERT_TRUE(ParseVerifyOptions({"--port", "--simulate=4"}, odd, error)) << error;
    EXPECT_FALSE(IsBench(odd));
    EXPECT_FALSE(odd.Simulate);
    EXPECT_EQ(odd.Port, "--simulate=4");
    ASSERT_TRUE(ParseVerifyOptions({"--port", "COM1", "--report-dir", ::testing::TempDir()}, o, error)) << error;
    EXPECT_TRUE(IsBench(o));

    const auto refusal = [](const std::vector<std::string>& args) {
        SVerifyOptions r;
        std::string why;
        EXPECT_FALSE(ParseVerifyOptions(args, r, why));
        return why;
    };
    EXPECT_EQ(refusal({"--simulate", "65"}), "Число имитаторов \"65\" должно быть целым от 1 до 64.");
    EXPECT_EQ(refusal({"--simulate=0"}), "Число имитаторов \"0\" должно быть целым от 1 до 64.");
    EXPECT_EQ(refusal({"--bench", "b.txt", "--simulate", "2"}),
              "Укажите либо --port ИМЯ (или --bench ФАЙЛ), либо --simulate.");
    EXPECT_EQ(refusal({"--port", "A", "--port", "B", "--report", ::testing::TempDir() + "/p.txt"}),
              "Параметр --report сохраняет протокол одного прибора; протоколы стенда - в папку --report-dir ПАПКА и "
              "в журнал.");
    EXPECT_EQ(refusal({"--simulate", "2", "--report-dir", "/nonexistent/folder"}),
              "Папка отчета \"/nonexistent/folder\" не существует.");
    EXPECT_EQ(refusal({"--port", "A", "--port", "B", "--kfs-write", "0=1"}),
              "Параметр --kfs-write задает запись KFS, а не поверку.");
    SKfsWriteOptions k;
    EXPECT_FALSE(ParseKfsWriteOptions({"--port", "A", "--port", "B", "--kfs-write", "0=1"}, k, error));
    EXPECT_EQ(error, "Запись KFS - для одного прибора: задайте один --port или --simulate без числа.");
    EXPECT_FALSE(ParseKfsWriteOptions({"--port", "A", "--bench", "b.txt", "--kfs-write", "0=1"}, k, error));
    EXPECT_EQ(error, "Параметр --bench относится к поверке, не к --kfs-write.");
}

// The ports of --port come first, then the bench file's, each line's own options over the common ones.
TEST(BenchOptions, TheMetersAreThePortsAndTheBenchFileLines)
{
    const std::string path = ::testing::TempDir() + "/rivanta-bench-" + std::to_string(::getpid()) + ".txt";
    std::ofstream(path) << "# east table\n/dev/ttyUSB1 --sensor 3 --answer yes\n/dev/ttyUSB2\n";
    std::vector<SBenchMeterOptions> meters;
    std::string error;
    ASSERT_TRUE(TBenchRun::MetersOf(Options({"--port", "COM1", "--bench", path, "--reverse", "--sensor", "1"}),
                                    meters, error))
        << error;
    ASSERT_EQ(meters.size(), 3u);
    EXPECT_EQ(meters[0].Port, "COM1");
    EXPECT_EQ(meters[0].Sensor, 1);
    EXPECT_EQ(meters[1].Port, "/dev/ttyUSB1");
    EXPECT_EQ(meters[1].Sensor, 3);
    EXPECT_TRUE(meters[1].AnswerYes);
    EXPECT_TRUE(meters[2].Reverse);
    EXPECT_FALSE(meters[2].AnswerYes);
    EXPECT_FALSE(TBenchRun::MetersOf(Options({"--port", "/dev/ttyUSB2", "--bench", path}), meters, error));
    EXPECT_EQ(error, "Порт /dev/ttyUSB2 указан дважды: к одному порту подключается один прибор.");
    std::remove(path.c_str());
}

// Every meter runs to its own end; the protocols follow one another under their ports, then the summary table,
// and the exit status is the most serious outcome.
TEST(BenchJob, EveryMeterToItsEndThenTheProtocolsAndTheSummary)
{
    CommaSeparator comma;
    sim::MeterDescription refusing = sim::DefaultDescription();
    refusing.emulatorMode = false;
    sim::MeterDescription three = Meter("three-path.json");
    BenchJobRig rig({"--port", "COM1", "--port", "COM2", "--port", "COM3", "--sensor", "0"},
                    {sim::DefaultDescription(), three, refusing});
    EXPECT_EQ(rig.Run(), veIncomplete);

    MainRig single;
    ASSERT_TRUE(single.Verify(false, false));
    MainRig singleThree(three);
    ASSERT_TRUE(singleThree.Verify(false, false));
    const std::string out = rig.out.str();
    EXPECT_EQ(out.rfind("=== COM1 ===\n" + single.Protocol() + "\n=== COM2 ===\n" + singleThree.Protocol() +
                            "\n=== COM3 ===\n",
                        0),
              0u)
        << out;
    const size_t table = out.find("Порт  Счетчик  Датчик   Итог");
    ASSERT_NE(table, std::string::npos) << out;
    std::istringstream rows(out.substr(table));
    std::string header, row1, row2, row3;
    std::getline(rows, header);
    std::getline(rows, row1);
    std::getline(rows, row2);
    std::getline(rows, row3);
    EXPECT_EQ(row1.rfind("COM1  21345    FS-25S   годен  ", 0), 0u) << row1;
    EXPECT_EQ(row2.rfind("COM2  30412    FS-150T  годен", 0), 0u) << row2;
    EXPECT_EQ(row3.rfind("COM3  21345    FS-25S   не завершена: Прибор не в режиме имитатора: поверка отменена.", 0),
              0u)
        << row3;
    EXPECT_EQ(rows.peek(), EOF);
    // Each meter's course on the log under its port, the questions only where they were asked.
    const std::string err = rig.err.str();
    EXPECT_TRUE(Has(err, "COM3: Внимание. Для проверки войдите в режим имитатора. - ответ: Нет")) << err;
    EXPECT_FALSE(Has(err, "COM1: Внимание."));
    EXPECT_TRUE(Has(err, "COM2: Развертка задержек 1 из"));
    EXPECT_TRUE(Has(err, "Стенд: полных протоколов 2 из 3."));
}

// A stop (a signal, the time limit) stops every meter as its "Стоп" would: each switches its emulation off, each
// protocol ends with its interruption line, and the job ends with status 5.
TEST(BenchJob, TheTimeLimitStopsEveryMeterWithItsEmulationOff)
{
    CommaSeparator comma;
    BenchJobRig rig({"--port", "COM1", "--port", "COM2", "--timeout", "40", "--report-dir", ::testing::TempDir()},
                    {sim::DefaultDescription(), sim::DefaultDescription()});
    EXPECT_EQ(rig.Run(), veStopped);
    for (size_t i = 0; i < 2; ++i) {
        const std::vector<std::string>& lines = rig.run->Bench()->Meter(i)->Controller().View().Memo1Lines;
        EXPECT_EQ(lines.back().rfind("Поверка прервана: истекло время работы, 40 с (", 0), 0u) << lines.back();
        const uint16_t block = rig.images[i]->RamPointer(8);
        EXPECT_EQ(rig.images[i]->ram.U8(block + 1) & 0x60, 0) << i;
    }
    // The protocols went nowhere but the summary: none was complete.
    EXPECT_FALSE(Has(rig.out.str(), "==="));
    EXPECT_TRUE(Has(rig.out.str(), "не завершена: Поверка прервана: истекло время работы, 40 с."));
    EXPECT_TRUE(Has(rig.err.str(), "Остановка стенда: истекло время работы, 40 с"));
}

}  // namespace
}  // namespace rv::test
