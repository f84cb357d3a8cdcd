// The runner's two jobs against a simulated meter whose records and answers cannot be right, and against arguments
// that cannot be used: every outcome is right or a clear refusal with the exit status that says which, and nothing
// wrong passes as complete.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/E2eSupport.h"
#include "e2e/RunnerRigs.h"
#include "sim/MeterImage.h"

namespace rv::test {
namespace {

using sim::layout::SensorAddress;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// What a script that reads the run sees: nothing that is not a number may show as one.
bool ShowsNoNumberThatIsNone(const std::string& text)
{
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower.find("nan") == std::string::npos && lower.find("inf") == std::string::npos;
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "/rivanta-untrusted-" + std::to_string(::getpid()) + "-" + name;
}

// A table set the flow tables do not know stops the readout with its number; no header, no report, no status 0.
TEST(UntrustedRecords, UnknownTableSetStopsTheRunWithItsNumber)
{
    CommaSeparator comma;
    for (const int set : {7, 100, 255}) {
        sim::MeterDescription d = sim::DefaultDescription();
        d.modules = {{1, 7, static_cast<uint8_t>(set)}};
        const std::string report = TempPath("table-set.TXT");
        HeadlessRig rig(Options({"--simulate", "--report", report}), d);
        EXPECT_EQ(rig.Run(), veIncomplete) << set;
        EXPECT_TRUE(Has(rig.err.str(), "Неизвестный набор таблиц расходов модуля №1 в конфигурации прибора: " +
                                           std::to_string(set) + " (допустимо 0..4). Поверка невозможна."))
            << rig.err.str();
        EXPECT_EQ(rig.out.str(), "");
        EXPECT_FALSE(Has(rig.err.str(), "Поверка завершена."));
        EXPECT_FALSE(Exists(report));
        EXPECT_EQ(rig.meter.RequestCount(0x84), 0u);  // no measurement was started
    }
}

// A framed answer of another length than the read asked for, its checksum right, is refused and the read repeated:
// the run ends with the protocol of a meter that answered right.
TEST(UntrustedAnswers, ReadsOfAnotherLengthAreRepeatedInBothWindows)
{
    CommaSeparator comma;
    HeadlessRig clean(Options({"--simulate", "--sensor", "1"}));
    ASSERT_EQ(clean.Run(), veComplete);

    HeadlessRig rig(Options({"--simulate", "--sensor", "1"}));
    std::vector<sim::ResizedAnswer>& resized = rig.meter.Faults().resized;
    resized = {
        {0x30, 0x100, -100, 1},                   // the first configuration block comes back empty
        {0x31, 0x100 + 200, -1, 1},               // the third one a byte short
        {0x31, 0x100 + 200, -192, 1},             // then missing altogether
        {0x31, SensorAddress(1) + 100, +4, 1},    // the chosen sensor's second block four bytes long
        {0x31, SensorAddress(5) + 200, -110, 2},  // the last block of the last record twice empty
    };
    EXPECT_EQ(rig.Run(), veComplete) << rig.err.str();
    for (const sim::ResizedAnswer& r : resized) EXPECT_EQ(r.done, r.times) << std::hex << r.address;
    EXPECT_EQ(rig.out.str(), clean.out.str());
    EXPECT_TRUE(Has(rig.err.str(), "Переповторы 6")) << rig.err.str();

    // The KFS window reads the same chain: a short block of the chosen sensor's record is read again, so the write
    // journals the coefficient the meter holds.
    RunRig kfs(InCorrectionMode(sim::DefaultDescription()), "2=1,01");
    kfs.meter.Faults().resized = {{0x31, SensorAddress(2) + 100, -3, 1}, {0x31, 0x100 + 100, +1, 1}};
    EXPECT_EQ(kfs.Run(), veComplete) << kfs.log.str();
    EXPECT_EQ(kfs.out.str(), "Произведено изменение\n КFS с 1,0035000 на 1,0100000\n");
    EXPECT_EQ(kfs.meter.Faults().resized[0].done, 1u);
    EXPECT_EQ(kfs.meter.Faults().resized[1].done, 1u);
}

// Values the formulas cannot use stop the step with a message that names the field and its value; no line of the
// protocol or of the log shows a number that is none.
TEST(UntrustedRecords, NumbersThatAreNoneNeverReachTheProtocol)
{
    CommaSeparator comma;
    struct Case {
        const char* name;
        std::function<void(sim::SensorDescription&)> change;
        const char* reason;
    };
    const Case cases[] = {
        {"KFS 3e38", [](sim::SensorDescription& s) { s.kfs = 3e38f; },
         "Время прохождения ультразвука Tств по результатам развертки задержек недопустимо: "},
        {"transit time 1e-30", [](sim::SensorDescription& s) { s.physics.transitTime = 1e-30; },
         "Время прохождения ультразвука Tств по результатам развертки задержек недопустимо: "},
        {"diameter NaN", [](sim::SensorDescription& s) { s.diameter = kNaN; },
         "Диаметр трубы датчика в позиции 0 (запись прибора) недопустим: не число."},
        {"diameter inf", [](sim::SensorDescription& s) { s.diameter = kInf; },
         "Диаметр трубы датчика в позиции 0 (запись прибора) недопустим: бесконечность."},
        {"correction NaN", [](sim::SensorDescription& s) { s.correction[2][1] = kNaN; },
         "Коэффициент коррекции b сегмента 2 датчика в позиции 0 (запись прибора) недопустим: не число."},
    };
    for (const Case& c : cases) {
        sim::MeterDescription d = sim::DefaultDescription();
        c.change(*d.sensors[0]);
        HeadlessRig rig(Options({"--simulate", "--extra-info"}), d);
        EXPECT_EQ(rig.Run(), veIncomplete) << c.name;
        EXPECT_TRUE(Has(rig.err.str(), c.reason)) << c.name << "\n" << rig.err.str();
        EXPECT_TRUE(ShowsNoNumberThatIsNone(rig.out.str())) << c.name << "\n" << rig.out.str();
        EXPECT_TRUE(ShowsNoNumberThatIsNone(rig.err.str())) << c.name << "\n" << rig.err.str();
        EXPECT_FALSE(Has(rig.out.str(), "Измеренное значение")) << c.name;
    }

    // The same meters written as a description file: JSON has no NaN, the file states it as a text.
    const sim::MeterDescription described =
        sim::ParseMeterDescription(R"({"sensors": [{"kfs": "nan", "diameter": "inf", "diameter2": "-inf"}]})");
    EXPECT_TRUE(std::isnan(described.sensors[0]->kfs));
    EXPECT_EQ(described.sensors[0]->diameter, kInf);
    EXPECT_EQ(described.sensors[0]->diameter2, -kInf);
    EXPECT_THROW(sim::ParseMeterDescription(R"({"sensors": [{"kfs": "NaN!"}]})"), sim::MeterFileError);

    // The KFS window shows no coefficient that is none either.
    sim::MeterDescription three = Meter("three-path.json");
    three.sensors[1]->kfs = kNaN;
    RunRig kfs(InCorrectionMode(three), "0=1;1;1");
    EXPECT_EQ(kfs.Run(), veIncomplete);
    EXPECT_TRUE(Has(kfs.log.str(), "Коэффициент КFS датчика в позиции 1 (запись прибора) недопустим: не число."))
        << kfs.log.str();
    EXPECT_EQ(kfs.meter.RequestCount(0x41), 0u);
    for (const SKfsEdit& e : kfs.page.View().EditDigital) EXPECT_TRUE(ShowsNoNumberThatIsNone(e.Text)) << e.Text;
}

// Records that cannot be right are refused before the header; a KFS text that disagrees with the float is told
// and the run goes on with the float.
TEST(UntrustedRecords, RecordsThatCannotBeRightAreRefusedAndADisagreeingKfsTextIsTold)
{
    CommaSeparator comma;
    for (auto [diameter, shown] : {std::pair{-0.025f, "-0,025"}, {10.0f, "10"}, {0.0f, "0"}}) {
        sim::MeterDescription d = sim::DefaultDescription();
        d.sensors[0]->diameter = diameter;
        HeadlessRig rig(Options({"--simulate"}), d);
        EXPECT_EQ(rig.Run(), veIncomplete);
        EXPECT_TRUE(Has(rig.err.str(), std::string("Диаметр трубы датчика в позиции 0 (запись прибора) недопустим: ") +
                                           shown + ". Допустимо больше 0 и не более 2 м."))
            << rig.err.str();
        EXPECT_EQ(rig.out.str(), "");
    }
    {
        sim::MeterDescription d = sim::DefaultDescription();
        d.sensors[0]->kfs = -1.0f;
        HeadlessRig rig(Options({"--simulate"}), d);
        EXPECT_EQ(rig.Run(), veIncomplete);
        EXPECT_TRUE(Has(rig.err.str(), "Коэффициент КFS датчика в позиции 0 (запись прибора) недопустим: -1."));
    }
    {
        // A text one unit of its last digit away agrees; more does not. Texts are shown as they stand.
        sim::MeterDescription d = sim::DefaultDescription();
        d.sensors[0]->kfsText = "1,0013";
        d.sensors[1]->kfsText = "0,9985";
        d.sensors[0]->qvmax = "-1e999";
        HeadlessRig agrees(Options({"--simulate"}), d);
        EXPECT_EQ(agrees.Run(), veComplete);
        EXPECT_EQ(agrees.ctl.Fields().KfsMismatch, "");
        HeadlessRig differs(Options({"--simulate", "--sensor", "1"}), d);
        EXPECT_EQ(differs.Run(), veComplete) << differs.err.str();
        const std::string told =
            "Текст КFS датчика в позиции 1 (запись прибора) \"0,9985\" не совпадает с числом КFS "
            "0,9987.";
        EXPECT_EQ(differs.ctl.Fields().KfsMismatch, told);
        EXPECT_TRUE(Has(differs.err.str(), told)) << differs.err.str();
        EXPECT_TRUE(Has(differs.out.str(), "КFS датчика расхода 0,9985\n"));
        EXPECT_TRUE(Has(agrees.out.str(), "QVmax=-1e999м3/ч"));
    }
    {
        // The KFS window tells it on its status line too, and shows the float.
        sim::MeterDescription d = InCorrectionMode(sim::DefaultDescription());
        d.sensors[2]->kfsText = "abc";
        RunRig kfs(d, "2=1,01");
        EXPECT_EQ(kfs.Run(), veComplete) << kfs.log.str();
        EXPECT_TRUE(Has(kfs.log.str(),
                        "Текст КFS датчика в позиции 2 (запись прибора) \"abc\" не является числом; "
                        "число КFS 1,0035."))
            << kfs.log.str();
        EXPECT_FALSE(kfs.form1.Fields().KfsMismatch.empty());
    }
}

// A coefficient that cannot be one is refused before the port is opened, with status 2; an unusual one is asked
// about and written only when the answer is yes; nothing is sent before.
TEST(UntrustedKfsValues, RefusedBeforeThePortOpensAndUnusualOnesAsked)
{
    CommaSeparator comma;
    for (const char* value :
         {"abc", "NaN", "inf", "0", "-1", "1e-45", "3.4e38", "1e28", "0,09", "10,5", "1.00000001", "1;1;abc"}) {
        SKfsWriteOptions o;
        std::string error;
        EXPECT_FALSE(ParseKfsWriteOptions({"--port", "COM1", "--kfs-write", std::string("0=") + value}, o, error))
            << value;
        EXPECT_FALSE(error.empty());
    }
    SKfsWriteOptions o;
    std::string error;
    ParseKfsWriteOptions({"--simulate", "--kfs-write", "0=1e-45"}, o, error);
    EXPECT_EQ(error, "Коэффициент KFS \"1e-45\" вне допустимого диапазона 0,1 … 10.");
    ParseKfsWriteOptions({"--simulate", "--kfs-write", "0=1,00000001"}, o, error);
    EXPECT_EQ(error, "Текст коэффициента KFS \"1,00000001\" длиннее 9 знаков: поле KFS прибора его не вместит.");
    EXPECT_TRUE(ParseKfsWriteOptions({"--simulate", "--kfs-write", "0=0,1;10;1"}, o, error)) << error;

    // Unusual: asked; No sends nothing and ends as stopped by the technician, Yes writes it.
    RunRig no(InCorrectionMode(sim::DefaultDescription()), "0=3");
    EXPECT_EQ(no.Run(), veStopped) << no.log.str();
    EXPECT_TRUE(Has(no.log.str(), "Внимание. Коэффициент 3 необычно далек от 1. Записать? - ответ: Нет"))
        << no.log.str();
    EXPECT_EQ(no.meter.RequestCount(0x41), 0u);
    EXPECT_EQ(no.meter.RequestCount(0x0F), 1u);  // the connect's identity only
    RunRig yes(InCorrectionMode(sim::DefaultDescription()), "0=3", true);
    EXPECT_EQ(yes.Run(), veComplete) << yes.log.str();
    EXPECT_FLOAT_EQ(yes.image->flash.F32(SensorAddress(0) + 178), 3.0f);
}

// --report is checked before the port is opened; a temporary file that a killed save left beside the report is
// cleaned up by the next save to that name.
TEST(UntrustedArguments, ReportIsCheckedFirstAndAKilledSaveLeavesNothingBehind)
{
    const std::string folder = TempPath("reports");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    struct Refused {
        std::string report;
        std::string error;
    };
    const Refused refused[] = {
        {folder, "Отчет \"" + folder + "\" - это папка, а не файл."},
        {folder + "/", "Отчет \"" + folder + "/\" - это папка, а не файл."},
        {folder + "/missing/r.TXT", "Папка отчета \"" + folder + "/missing\" не существует."},
        {"/dev/null", "Отчет \"/dev/null\" не является обычным файлом: протокол в него не сохранить."},
        {folder + "/r.TXT/", "В имени отчета \"" + folder + "/r.TXT/\" нет имени файла."},
    };
    for (const Refused& r : refused) {
        SVerifyOptions o;
        std::string error;
        EXPECT_FALSE(ParseVerifyOptions({"--simulate", "--report", r.report}, o, error)) << r.report;
        EXPECT_EQ(error, r.error);
    }
    {
        SVerifyOptions o;
        std::string error;
        EXPECT_FALSE(ParseVerifyOptions({"--simulate", "--report="}, o, error));
        EXPECT_EQ(error, "Параметр --report требует значения.");
    }
    if (::geteuid() != 0) {
        // Root writes into any folder; everyone else is told why not, in Russian first.
        const std::string locked = folder + "/locked";
        ASSERT_EQ(::mkdir(locked.c_str(), 0500), 0);
        SVerifyOptions o;
        std::string error;
        EXPECT_FALSE(ParseVerifyOptions({"--simulate", "--report", locked + "/r.TXT"}, o, error));
        EXPECT_EQ(error.rfind("В папку отчета \"" + locked + "\" нельзя записать: ", 0), 0u) << error;
        ::rmdir(locked.c_str());
    }

    // Left by saves killed between write and rename: one of a process that is gone, one of a running one (this).
    const std::string report = folder + "/r.TXT";
    const std::string gone = report + ".new-2147483646-0";
    const std::string running = report + ".new-" + std::to_string(::getpid()) + "-7";
    const std::string other = folder + "/other.TXT.new-2147483646-0";
    for (const std::string& path : {gone, running, other}) {
        FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    HeadlessRig rig(Options({"--simulate", "--report", report}));
    EXPECT_EQ(rig.Run(), veComplete) << rig.err.str();
    EXPECT_TRUE(Exists(report));
    EXPECT_FALSE(Exists(gone));
    EXPECT_TRUE(Exists(running));
    EXPECT_TRUE(Exists(other));  // another name's
    for (const std::string& path : {report, running, other}) std::remove(path.c_str());
    ::rmdir(folder.c_str());
}

// Every ending of both jobs maps onto one status, and --help lists them.
TEST(UntrustedArguments, ExitStatusesMeanOneThingEach)
{
    {
        // The adapter is pulled in the middle of the sweep.
        HeadlessRig rig(Options({"--simulate"}));
        rig.run.Start(rig.ctl, rig.loop, "COM1");
        ASSERT_TRUE(rig.loop.RunUntil([&] { return rig.ctl.Stage() == msSweeping; }, 600'000));
        rig.line.SetOpen(false);
        ASSERT_TRUE(rig.loop.RunUntil([&] { return rig.finishedWith >= 0; }, 60'000));
        EXPECT_EQ(rig.finishedWith, veLineLost);
        EXPECT_TRUE(Has(rig.err.str(), "Связь с прибором потеряна")) << rig.err.str();
    }
    {
        HeadlessRig rig(Options({"--simulate"}));
        rig.line.SetRefuseOpen("нет такого устройства");
        EXPECT_EQ(rig.Run(), vePort);
    }
    {
        // And in the middle of the KFS write's journal records.
        RunRig rig(InCorrectionMode(sim::DefaultDescription()), "0=1,1");
        rig.run.Start(rig.main, rig.page, rig.loop, "COM1");
        ASSERT_TRUE(rig.loop.RunUntil([&] { return rig.form1.Stage() == fsJournal; }, 600'000));
        rig.line.SetOpen(false);
        ASSERT_TRUE(rig.loop.RunUntil([&] { return rig.exit >= 0; }, 60'000));
        EXPECT_EQ(rig.exit, veLineLost) << rig.log.str();
    }
    {
        // Out of correction mode, told to answer No: the meter refused.
        RunRig rig(sim::DefaultDescription(), "0=1,1");
        EXPECT_EQ(rig.Run(), veIncomplete);
    }
    const std::string help = RunnerUsage();
    for (const char* line :
         {"  0  протокол полный", "  1  прибор отказал или проверка не пройдена", "  2  неверные параметры",
          "  3  порт не открыт", "  4  связь с прибором потеряна во время работы",
          "  5  остановлено техником или сигналом"})
        EXPECT_NE(help.find(line), std::string::npos) << line;
}

}  // namespace
}  // namespace rv::test
