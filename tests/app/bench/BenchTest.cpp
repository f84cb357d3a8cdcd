// The bench in virtual time: meters that fail each their own way end alone, with their own reasons, while every
// other meter runs exactly as it would alone; many meters of every kind give the protocols of their single runs;
// a stop, the report files and the journal records are each meter's own.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/CommaSeparator.h"
#include "app/MainRig.h"
#include "app/bench/BenchFile.h"
#include "app/bench/BenchRig.h"
#include "core/Cp1251.h"
#include "journal/TJournal.h"
#include "meter/FlashAddress.h"
#include "sim/MeterCommands.h"

namespace rv::test {
namespace {

// The journal runs on Qt's SQL drivers, which want an application object.
class CoreApplication : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "app_bench_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QCoreApplication* app_ = nullptr;
};
[[maybe_unused]] ::testing::Environment* const kApp = ::testing::AddGlobalTestEnvironment(new CoreApplication);

sim::MeterDescription Shipped(const std::string& file)
{
    if (file.empty()) return sim::DefaultDescription();
    const std::string path = std::string(RIVANTA_SIM_METERS) + "/" + file;
    std::ifstream in(path, std::ios::binary);
    return sim::ParseMeterDescription(std::string(std::istreambuf_iterator<char>(in), {}), path);
}

SBenchMeterOptions With(std::optional<int> sensor, bool reverse, bool yes = false)
{
    SBenchMeterOptions o;
    o.Sensor = sensor;
    o.Reverse = reverse;
    o.AnswerYes = yes;
    return o;
}

std::vector<std::string> Texts(const std::deque<SBenchLogLine>& log)
{
    std::vector<std::string> out;
    for (const SBenchLogLine& l : log) out.push_back(l.Text);
    return out;
}

int Count(const std::deque<SBenchLogLine>& log, const std::string& part)
{
    int n = 0;
    for (const SBenchLogLine& l : log) n += l.Text.find(part) != std::string::npos;
    return n;
}

// The meter's raw readings from now on: a nominal reading below one is a sensor error.
void WeakSensor(sim::SimMeter& meter)
{
    const sim::SimMeter::CommandHandler physics = meter.CommandHandlerFor(sim::cmd::kStartFlowCalculation);
    meter.SetCommandHandler(sim::cmd::kStartFlowCalculation, [physics](sim::SimMeter& m, const sim::Request& r) {
        sim::Answer a = physics(m, r);
        const uint16_t block = m.Image().RamPointer(6);
        for (int c = 0; c < 6; ++c) {
            m.Image().ram.PutF32(block + 4u * (8 + c), 0.0f);
            m.Image().ram.PutF32(block + 4u * (14 + c), 0.5f);
        }
        return a;
    });
}

// The five meters of the failure test, each set up the same way on a bench of its own and on the shared one.
enum Kind { kSilent, kUnplugged, kRefusing, kWeakSensor, kGood };

void AddKind(BenchRig& rig, Kind kind, const std::string& port)
{
    sim::MeterDescription d = sim::DefaultDescription();
    sim::FaultPlan faults;
    switch (kind) {
        case kSilent:
            faults.dropAnswer = 1.0;
            break;
        case kRefusing:
            d.emulatorMode = false;
            break;
        case kWeakSensor:
            d.emulator.resampleOnRead = false;
            break;
        default:
            break;
    }
    const size_t slot = rig.Add(d, With(kind == kUnplugged ? 1 : 0, true), faults, port);
    if (kind == kWeakSensor) WeakSensor(*rig.Sim(slot).meter);
}

// Runs the bench to its end; the unplugged meter's adapter is pulled 5 s into its delay sweep.
void RunWithUnplug(BenchRig& rig, std::optional<size_t> unplugged)
{
    rig.bench.StartAll();
    if (unplugged) {
        ASSERT_TRUE(rig.loop.RunUntil(
            [&] { return rig.Meter(*unplugged).Controller().Stage() == msSweeping; }, 600'000));
        rig.loop.RunFor(5000);
        rig.Sim(*unplugged).line->SetOpen(false);
    }
    ASSERT_TRUE(rig.RunToEnd());
}

TEST(Bench, MetersFailingEachTheirOwnWayEndAloneWhileTheOthersRunAsIfAlone)
{
    CommaSeparator comma;
    BenchRig rig;
    for (Kind k : {kSilent, kUnplugged, kRefusing, kWeakSensor, kGood}) AddKind(rig, k, "COM" + std::to_string(k + 1));
    RunWithUnplug(rig, kUnplugged);

    // Each meter's course, line by line and to the millisecond, is the one it has on a bench of its own: nothing
    // waited for anything else.
    for (Kind k : {kSilent, kUnplugged, kRefusing, kWeakSensor, kGood}) {
        BenchRig alone;
        AddKind(alone, k, "COM" + std::to_string(k + 1));
        RunWithUnplug(alone, k == kUnplugged ? std::optional<size_t>(0) : std::nullopt);
        const TBenchMeter& a = alone.Meter(0);
        const TBenchMeter& m = rig.Meter(k);
        EXPECT_EQ(m.Outcome(), a.Outcome()) << k;
        EXPECT_EQ(m.Message(), a.Message()) << k;
        EXPECT_EQ(rig.Protocol(k), alone.Protocol(0)) << k;
        EXPECT_EQ(m.DurationMs(), a.DurationMs()) << k;
        ASSERT_EQ(m.Log().size(), a.Log().size()) << k;
        for (size_t i = 0; i < m.Log().size(); ++i) {
            EXPECT_EQ(m.Log()[i].Ms, a.Log()[i].Ms) << k << " " << m.Log()[i].Text;
            EXPECT_EQ(m.Log()[i].Text, a.Log()[i].Text) << k;
        }
    }

    // The good meter's protocol is the verification page's own.
    MainRig page;
    ASSERT_TRUE(page.Verify(true, false));
    ASSERT_EQ(page.ctl.Stage(), msDone);
    EXPECT_EQ(rig.Protocol(kGood), page.Protocol());
    EXPECT_EQ(rig.Meter(kGood).Outcome(), boComplete);
    EXPECT_EQ(rig.Meter(kGood).Verdict(), "годен");

    // Each of the others stopped with its own reason; only the silent meter was asked whether to keep trying and
    // only the refusing one to enter its emulator mode.
    const TBenchMeter& silent = rig.Meter(kSilent);
    EXPECT_EQ(silent.Outcome(), boLineLost);
    EXPECT_EQ(silent.Message(), "Прибор не отвечает.");
    const TBenchMeter& unplugged = rig.Meter(kUnplugged);
    EXPECT_EQ(unplugged.Outcome(), boLineLost);
    EXPECT_EQ(unplugged.Message(), "связь с прибором потеряна");
    EXPECT_EQ(Count(unplugged.Log(), "Ошибка: Связь с прибором потеряна: "), 1);
    const TBenchMeter& refusing = rig.Meter(kRefusing);
    EXPECT_EQ(refusing.Outcome(), boIncomplete);
    EXPECT_EQ(refusing.Message(), "Прибор не в режиме имитатора: поверка отменена.");
    const TBenchMeter& weak = rig.Meter(kWeakSensor);
    EXPECT_EQ(weak.Outcome(), boIncomplete);
    EXPECT_EQ(weak.Message(), "Ошибка датчика.");
    EXPECT_EQ(weak.Verdict(), "не завершена: Ошибка датчика.");
    for (Kind k : {kSilent, kUnplugged, kRefusing, kWeakSensor, kGood}) {
        EXPECT_EQ(Count(rig.Meter(k).Log(), "Прибор не отвечает. Проверьте"), k == kSilent ? 1 : 0) << k;
        EXPECT_EQ(Count(rig.Meter(k).Log(), "войдите в режим имитатора"), k == kRefusing ? 1 : 0) << k;
    }
    EXPECT_EQ(rig.bench.Outcome(), boLineLost);

    // The emulation is off wherever the line let it be switched off; the meter whose adapter was pulled keeps
    // it, and its protocol says so.
    for (Kind k : {kSilent, kRefusing, kWeakSensor, kGood}) EXPECT_FALSE(EmulationOn(*rig.Sim(k).image)) << k;
    EXPECT_TRUE(EmulationOn(*rig.Sim(kUnplugged).image));
    const std::vector<std::string>& lines = rig.Meter(kUnplugged).Controller().View().Memo1Lines;
    EXPECT_NE(lines.back().find("Поверка прервана: связь с прибором потеряна (Развертка задержек"), std::string::npos)
        << lines.back();
    EXPECT_NE(lines.back().find("режим эмуляции в приборе не выключен"), std::string::npos);
    EXPECT_EQ(rig.Meter(kWeakSensor).Controller().View().Memo1Lines.back(),
              "Поверка прервана: Ошибка датчика (Номинальный расход).");
    // Every port was let go, and nothing of the bench goes on.
    for (Kind k : {kSilent, kUnplugged, kRefusing, kWeakSensor, kGood}) EXPECT_FALSE(rig.Sim(k).line->GetOpen());
    const uint64_t frames = rig.Sim(kGood).meter->TotalRequests();
    rig.loop.RunFor(60'000);
    EXPECT_EQ(rig.Sim(kGood).meter->TotalRequests(), frames);
}

// Meters of every shipped kind (one- and three-path, both flash layouts, forward and reverse) on one bench: each
// protocol is that meter's single run on the verification page, and the program-wide flash address table all of
// them read through is the same before and after.
TEST(Bench, ManyMetersOfEveryKindGiveTheProtocolsOfTheirSingleRuns)
{
    CommaSeparator comma;
    struct Setup {
        const char* file;
        int sensor;
    };
    const std::vector<Setup> kinds = {{"", 0}, {"", 1}, {"", 2}, {"", 3}, {"three-path.json", 0},
                                      {"three-path.json", 3}, {"deviation.json", 0}};
    const int count = 8;
    const std::array<uint32_t, kFlashAddressCount> table = FlashAddressTable();
    BenchRig rig;
    std::vector<sim::MeterDescription> descriptions;
    for (int i = 0; i < count; ++i) {
        const Setup& s = kinds[static_cast<size_t>(i) % kinds.size()];
        sim::MeterDescription d = Shipped(s.file);
        d.serialNumber += static_cast<uint32_t>(i);
        descriptions.push_back(d);
        rig.Add(d, With(s.sensor, i % 2 == 0));
    }
    rig.bench.StartAll();
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.bench.Outcome(), boComplete);
    EXPECT_EQ(FlashAddressTable(), table);
    for (int i = 0; i < count; ++i) {
        const size_t slot = static_cast<size_t>(i);
        MainRig single(descriptions[slot]);
        single.prompter.sensor = kinds[slot % kinds.size()].sensor;
        ASSERT_TRUE(single.Verify(i % 2 == 0, false));
        ASSERT_EQ(single.ctl.Stage(), msDone) << i;
        EXPECT_EQ(rig.Protocol(slot), single.Protocol()) << i;
        EXPECT_EQ(rig.Meter(slot).MeterSerial(), std::to_string(descriptions[slot].serialNumber));
    }
}

// "Стоп" of one meter in its sweep switches that meter's emulation off and leaves the others to run as alone; the
// stopped slot starts anew; a stop of all stops every run with its emulation off.
TEST(Bench, StopsAreEachMetersOwn)
{
    CommaSeparator comma;
    BenchRig rig;
    for (int i = 0; i < 3; ++i) rig.Add(sim::DefaultDescription(), With(i, false));
    rig.bench.StartAll();
    ASSERT_TRUE(rig.loop.RunUntil([&] { return rig.Meter(1).Controller().Stage() == msSweeping; }, 600'000));
    rig.loop.RunFor(3000);
    ASSERT_TRUE(EmulationOn(*rig.Sim(1).image));
    rig.bench.Stop(1, "остановлена техником");
    EXPECT_EQ(rig.Meter(1).StateText(), "остановка");
    ASSERT_TRUE(rig.loop.RunUntil([&] { return !rig.bench.Running(1); }, 60'000));
    EXPECT_TRUE(rig.bench.Running(0));
    EXPECT_TRUE(rig.bench.Running(2));
    EXPECT_EQ(rig.Meter(1).Outcome(), boStopped);
    EXPECT_EQ(rig.Meter(1).StateText(), "прервана");
    EXPECT_FALSE(EmulationOn(*rig.Sim(1).image));
    EXPECT_EQ(rig.Meter(1).Controller().View().Memo1Lines.back().rfind(
                  "Поверка прервана: остановлена техником (Развертка задержек", 0),
              0u);
    ASSERT_TRUE(rig.RunToEnd());
    for (size_t slot : {size_t{0}, size_t{2}}) {
        BenchRig alone;
        alone.Add(sim::DefaultDescription(), With(static_cast<int>(slot), false), {}, rig.bench.Options(slot).Port);
        alone.bench.StartAll();
        ASSERT_TRUE(alone.RunToEnd());
        EXPECT_EQ(rig.Protocol(slot), alone.Protocol(0));
        EXPECT_EQ(rig.Meter(slot).DurationMs(), alone.Meter(0).DurationMs());
    }
    EXPECT_EQ(rig.bench.Outcome(), boStopped);

    // The stopped slot alone starts anew, with a meter of its own.
    const TBenchMeter* before = rig.bench.Meter(1);
    ASSERT_TRUE(rig.bench.Start(1));
    EXPECT_NE(rig.bench.Meter(1), before);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.Meter(1).Outcome(), boComplete);

    rig.bench.StartAll();
    rig.loop.RunFor(60'000);
    rig.bench.StopAll("получен сигнал завершения");
    ASSERT_TRUE(rig.RunToEnd(60'000));
    for (size_t slot = 0; slot < 3; ++slot) {
        EXPECT_EQ(rig.Meter(slot).Outcome(), boStopped) << slot;
        EXPECT_EQ(rig.Meter(slot).Message(), "Поверка прервана: получен сигнал завершения.") << slot;
        EXPECT_FALSE(EmulationOn(*rig.Sim(slot).image)) << slot;
    }
}

// Questions are answered per meter: the meter told Yes is asked again until its emulator mode is on, the one told
// No stops at the first question.
TEST(Bench, EachMeterAnswersFromItsOwnOptions)
{
    CommaSeparator comma;
    sim::MeterDescription d = sim::DefaultDescription();
    d.emulatorMode = false;
    BenchRig rig;
    rig.Add(d, With(0, false, true));
    rig.Add(d, With(0, false, false));
    rig.bench.StartAll();
    ASSERT_TRUE(rig.loop.RunUntil([&] { return Count(rig.Meter(0).Log(), "войдите в режим имитатора") >= 3; },
                                  600'000));
    rig.Sim(0).image->SetEmulatorMode(true);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.Meter(0).Outcome(), boComplete);
    EXPECT_GE(Count(rig.Meter(0).Log(), "войдите в режим имитатора. - ответ: Да"), 3);
    EXPECT_EQ(rig.Meter(1).Outcome(), boIncomplete);
    EXPECT_EQ(Count(rig.Meter(1).Log(), "войдите в режим имитатора. - ответ: Нет"), 1);
    EXPECT_EQ(Texts(rig.Meter(1).Log()).back(), "Прибор не в режиме имитатора: поверка отменена.");
}

// A sensor the meter does not offer ends that meter alone, as bad arguments; a port that will not open, as a port.
TEST(Bench, ASensorNotOfferedOrAPortThatWillNotOpenEndsOnlyItsMeter)
{
    CommaSeparator comma;
    BenchRig rig;
    rig.Add(sim::DefaultDescription(), With(5, false));
    rig.Add(sim::DefaultDescription(), With(0, false));
    rig.Add(sim::DefaultDescription(), With(0, false));
    rig.bench.OnMeterMade = [&](size_t slot, TBenchMeter&) {
        if (slot == 1) rig.Sim(1).line->SetRefuseOpen("устройство занято");
    };
    rig.bench.StartAll();
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.Meter(0).Outcome(), boUsage);
    EXPECT_EQ(rig.Meter(0).Message(), "Датчик в позиции 5 не предлагается для поверки; предлагаются позиции 0, 1, 2, 3.");
    EXPECT_EQ(rig.Meter(1).Outcome(), boPort);
    EXPECT_NE(rig.Meter(1).Message().find("устройство занято"), std::string::npos);
    EXPECT_EQ(rig.Meter(1).MeterSerial(), "");  // it never answered
    EXPECT_EQ(rig.Meter(1).SensorSize(), "");
    EXPECT_EQ(rig.Meter(0).MeterSerial(), "21345");
    EXPECT_EQ(rig.Meter(2).Outcome(), boComplete);
    EXPECT_EQ(rig.bench.Outcome(), boUsage);
}

// The complete protocols go to one folder under the meter's serial number and sensor, in code page 1251 with CR LF,
// two meters of one name never into one file; each run has its record in the shared journal, with its own verdict.
TEST(Bench, ReportFilesAndJournalRecordsAreEachMetersOwn)
{
    CommaSeparator comma;
    const std::string dir = ::testing::TempDir() + "/rivanta-bench-" + std::to_string(::getpid());
    ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
    journal::TJournal journal(dir + "/journal.sqlite");
    BenchRig rig;
    rig.Add(sim::DefaultDescription(), With(0, false));
    rig.Add(sim::DefaultDescription(), With(0, false));
    rig.Add(sim::DefaultDescription(), With(2, true));
    sim::MeterDescription weak = sim::DefaultDescription();
    weak.emulator.resampleOnRead = false;
    rig.Add(weak, With(1, false));
    WeakSensor(*rig.Sim(3).meter);
    rig.bench.SetReportDir(dir);
    SRunRecordContext context;
    context.Technician = "Петрова А. С.";
    rig.bench.SetJournal(&journal, context);
    rig.bench.StartAll();
    ASSERT_TRUE(rig.RunToEnd());

    const auto file = [&](const std::string& name) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto saved = [&](size_t slot) {
        std::string bytes;
        for (const std::string& l : rig.Meter(slot).Controller().View().Memo1Lines) bytes += ToCp1251(l) + "\r\n";
        return bytes;
    };
    EXPECT_EQ(file("21345_FS-25S.TXT"), saved(0));
    EXPECT_EQ(file("21345_FS-25S_2.TXT"), saved(1));
    EXPECT_EQ(file("21345_FS-50S.TXT"), saved(2));
    // The weak sensor's protocol is not complete: no file of it.
    EXPECT_EQ(std::system(("test $(ls " + dir + " | grep -c TXT) -eq 3").c_str()), 0);

    for (size_t slot = 0; slot < 4; ++slot) {
        const std::optional<journal::SVerificationRecord> r = journal.Get(rig.Meter(slot).RecordId());
        ASSERT_TRUE(r) << slot;
        EXPECT_EQ(r->Port, "COM" + std::to_string(slot + 1));
        EXPECT_EQ(r->Technician, "Петрова А. С.");
        EXPECT_EQ(r->Protocol, rig.Protocol(slot));
        EXPECT_EQ(r->State, slot < 3 ? journal::ERunState::Passed : journal::ERunState::Stopped) << slot;
    }
    EXPECT_EQ(journal.Get(rig.Meter(3).RecordId())->Outcome, "Ошибка датчика.");
    EXPECT_EQ(journal.Count({}), 4);
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}

// A line per port with its own options over the common ones; comments, blank lines and CR LF ends are fine.
TEST(BenchFile, EachLineIsAPortWithItsOwnOptions)
{
    SBenchMeterOptions common;
    common.Reverse = true;
    common.Sensor = 1;
    std::vector<SBenchMeterOptions> meters;
    std::string error;
    ASSERT_TRUE(ParseBenchText("# bench of the east table\r\n\n/dev/ttyUSB0\r\n  /dev/ttyUSB1 --sensor 3 --answer yes\n"
                               "COM7 --extra-info --sensor=0 --answer=no  # its cable is short\n",
                               "b.txt", common, meters, error))
        << error;
    ASSERT_EQ(meters.size(), 3u);
    EXPECT_EQ(meters[0].Port, "/dev/ttyUSB0");
    EXPECT_EQ(meters[0].Sensor, 1);
    EXPECT_TRUE(meters[0].Reverse);
    EXPECT_FALSE(meters[0].AnswerYes);
    EXPECT_EQ(meters[1].Port, "/dev/ttyUSB1");
    EXPECT_EQ(meters[1].Sensor, 3);
    EXPECT_TRUE(meters[1].AnswerYes);
    EXPECT_EQ(meters[2].Port, "COM7");
    EXPECT_EQ(meters[2].Sensor, 0);
    EXPECT_TRUE(meters[2].ExtraInfo);
    EXPECT_TRUE(DistinctPorts(meters, error));
    meters.push_back(meters[1]);
    EXPECT_FALSE(DistinctPorts(meters, error));
    EXPECT_EQ(error, "Порт /dev/ttyUSB1 указан дважды: к одному порту подключается один прибор.");
}

TEST(BenchFile, MistakesNameTheFileAndTheLine)
{
    const auto refusal = [](const std::string& text) {
        std::vector<SBenchMeterOptions> meters;
        std::string error;
        EXPECT_FALSE(ParseBenchText(text, "b.txt", {}, meters, error)) << text;
        EXPECT_TRUE(meters.empty());
        return error;
    };
    EXPECT_EQ(refusal("COM1\nCOM2 --sensor 6\n"), "Файл стенда b.txt, строка 2: позиция датчика \"6\" должна быть числом от 0 до 5.");
    EXPECT_EQ(refusal("COM1 --sensor"), "Файл стенда b.txt, строка 1: параметр --sensor требует значения.");
    EXPECT_EQ(refusal("COM1 --answer maybe"), "Файл стенда b.txt, строка 1: ответ \"maybe\" должен быть yes или no.");
    EXPECT_EQ(refusal("COM1 --reverse=1"), "Файл стенда b.txt, строка 1: параметр --reverse не принимает значения.");
    EXPECT_EQ(refusal("--sensor 1 COM1"), "Файл стенда b.txt, строка 1: строка начинается не с порта, а с \"--sensor\".");
    EXPECT_EQ(refusal("# nothing\n\n"), "Файл стенда b.txt не называет ни одного порта.");
    std::string many;
    for (size_t i = 0; i <= kMaxBenchMeters; ++i) many += "COM" + std::to_string(i) + "\n";
    EXPECT_EQ(refusal(many), "Файл стенда b.txt: больше 64 приборов.");

    std::vector<SBenchMeterOptions> meters;
    std::string error;
    EXPECT_FALSE(ReadBenchFile("/nonexistent/bench.txt", {}, meters, error));
    EXPECT_EQ(error.rfind("Файл стенда /nonexistent/bench.txt не открыть: ", 0), 0u) << error;
    EXPECT_FALSE(ReadBenchFile("/dev/zero", {}, meters, error));
    EXPECT_EQ(error, "Файл стенда /dev/zero больше 64 КиБ: это не файл стенда.");
}

}  // namespace
}  // namespace rv::test
