// The headless run in virtual time against the simulated meter: what goes to standard output and standard
// error, the saved report, the exit statuses, and the runner's options.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Cp1251.h"
#include "e2e/E2eSupport.h"
#include "e2e/RunnerRigs.h"

namespace rv::test {
namespace {

TEST(VerifyRun, PrintsExactlyTheProtocolAndSavesTheReport)
{
    CommaSeparator comma;
    const std::string report = ::testing::TempDir() + "/rivanta-verify-report.TXT";
    std::remove(report.c_str());
    HeadlessRig rig(Options({"--simulate", "--sensor", "1", "--reverse", "--extra-info", "--report", report}));
    EXPECT_EQ(rig.Run(), veComplete) << rig.err.str();
    EXPECT_EQ(rig.out.str(), ReadText(std::string(RIVANTA_E2E_REFERENCE) + "/one-path-reverse-extra.txt"));
    EXPECT_EQ(rig.line.GetOpen(), false);  // the port is closed at the end
    std::string saved;
    for (const std::string& line : rig.ctl.View().Memo1Lines) saved += ToCp1251(line) + "\r\n";
    EXPECT_EQ(ReadText(report), saved);
    const std::string log = rig.err.str();
    EXPECT_NE(log.find("Чтение конфигурации прибора."), std::string::npos);
    EXPECT_NE(log.find("  1: Модуль №1 FSA Диаметр 0,032"), std::string::npos);
    EXPECT_NE(log.find("Поверка завершена."), std::string::npos);
    std::remove(report.c_str());
}

TEST(VerifyRun, EndsWithAClearMessageAndANonZeroStatus)
{
    {
        sim::MeterDescription d = sim::DefaultDescription();
        d.emulatorMode = false;
        HeadlessRig rig(Options({"--simulate"}), d);
        EXPECT_EQ(rig.Run(), veIncomplete);
        EXPECT_NE(rig.err.str().find("Внимание. Для проверки войдите в режим имитатора. - ответ: Нет"),
                  std::string::npos);
        EXPECT_NE(rig.err.str().find("Прибор не в режиме имитатора: поверка отменена."), std::string::npos);
    }
    {
        sim::MeterDescription d = sim::DefaultDescription();
        d.emulator.zeroFlow = 0.2;
        HeadlessRig rig(Options({"--simulate"}), d);
        EXPECT_EQ(rig.Run(), veIncomplete);
        EXPECT_NE(rig.err.str().find("Обнаружено движение жидкости установите гидроноль"), std::string::npos);
        // Standard output holds the header printed before the stop, and nothing else.
        EXPECT_EQ(rig.out.str().rfind("Серийный номер счетчика №21345\n", 0), 0u);
    }
    {
        HeadlessRig rig(Options({"--simulate", "--sensor", "5"}));
        EXPECT_EQ(rig.Run(), veUsage);
        EXPECT_NE(
            rig.err.str().find("Датчик в позиции 5 не предлагается для поверки; предлагаются позиции 0, 1, 2, 3."),
            std::string::npos);
        EXPECT_EQ(rig.out.str(), "");
    }
    {
        HeadlessRig rig(Options({"--port", "ttyUSB7"}));
        rig.line.SetRefuseOpen("No such file or directory");
        EXPECT_EQ(rig.Run(), vePort);
        EXPECT_NE(rig.err.str().find("Ошибка: Невозможно открыть порт COM1: No such file or directory"),
                  std::string::npos);
        EXPECT_TRUE(rig.line.Writes().empty());
    }
    {
        // The report's folder went away during the run.
        const std::string folder = ::testing::TempDir() + "/rivanta-gone-" + std::to_string(::getpid());
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        HeadlessRig rig(Options({"--simulate", "--report", folder + "/report.TXT"}));
        ::rmdir(folder.c_str());
        EXPECT_EQ(rig.Run(), veIncomplete);
        EXPECT_NE(rig.err.str().find("Протокол не сохранен."), std::string::npos);
    }
}

TEST(VerifyRun, QuestionsAnsweredYesRepeatTheCheck)
{
    sim::MeterDescription d = sim::DefaultDescription();
    d.emulatorMode = false;
    HeadlessRig rig(Options({"--simulate", "--answer", "yes"}), d);
    int checks = 0;
    // The technician switches the meter over after the third question.
    rig.meter.SetCommandHandler(
        0x10, [old = rig.meter.CommandHandlerFor(0x10), &checks](sim::SimMeter& m, const sim::Request& r) {
            if (r.paramCount >= 2 && GetU16(r.params) == m.Image().RamPointer(3) && ++checks == 3)
                m.Image().SetEmulatorMode(true);
            return old(m, r);
        });
    EXPECT_EQ(rig.Run(), veComplete) << rig.err.str();
    EXPECT_EQ(checks, 4);  // the readout's check passes on the third, the button's is the fourth
}

TEST(VerifyRunOptions, TakesTheDocumentedOptionsAndRefusesEverythingElse)
{
    SVerifyOptions o;
    std::string error;
    ASSERT_TRUE(ParseVerifyOptions({"--port", "COM3", "--sensor=4", "--reverse", "--extra-info", "--report", "r.txt",
                                    "--answer", "yes", "--trace"},
                                   o, error));
    EXPECT_EQ(o.Port, "COM3");
    EXPECT_EQ(o.Sensor, 4);
    EXPECT_TRUE(o.Reverse && o.ExtraInfo && o.AnswerYes && o.Trace);
    EXPECT_EQ(o.Report, "r.txt");
    ASSERT_TRUE(ParseVerifyOptions({"--simulate", "--meter", "m.json"}, o, error));
    EXPECT_TRUE(o.Simulate);
    EXPECT_FALSE(o.AnswerYes);
    EXPECT_FALSE(o.Sensor.has_value());

    for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                                {"--port", "COM1", "--simulate"},
                                                {"--port"},
                                                {"--simulate", "--sensor", "6"},
                                                {"--simulate", "--sensor", "x"},
                                                {"--simulate", "--answer", "maybe"},
                                                {"--port", "COM1", "--meter", "m"},
                                                {"--simulate", "--bogus"},
                                                {"--simulate", "--reverse=1"},
                                                {"--port="}}) {
        EXPECT_FALSE(ParseVerifyOptions(bad, o, error)) << (bad.empty() ? "" : bad.back());
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(ParseVerifyOptions({"--help"}, o, error));
    EXPECT_TRUE(o.Help);
}

}  // namespace
}  // namespace rv::test
