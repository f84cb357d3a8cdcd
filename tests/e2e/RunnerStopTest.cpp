// The headless jobs ending early, in virtual time against the simulated meter: --timeout ends a run whose meter has
// stopped answering, the emulation switched off and the interruption line last on standard output, with the status
// of a stopped run; a stop requested mid-run ends the same way; the KFS write's confirmation is answered by the
// command line itself.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/RunnerRigs.h"

namespace rv::test {
namespace {

constexpr uint8_t kWriteRam = 0x20;

std::string LastLine(std::string text)
{
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t at = text.rfind('\n');
    return at == std::string::npos ? text : text.substr(at + 1);
}

bool EmulationOff(const sim::MeterImage& image)
{
    const uint16_t emu = image.RamPointer(8);
    return image.ram.U8(emu) == 0 && (image.ram.U8(emu + 1) & 0x60) == 0;
}

// From the write of this delay of the sweep on, the meter does everything it is asked and answers nothing.
void GoSilentAtDelay(HeadlessRig& rig, int delay)
{
    const sim::SimMeter::CommandHandler write = rig.meter.CommandHandlerFor(kWriteRam);
    rig.meter.SetCommandHandler(kWriteRam, [write, delay](sim::SimMeter& m, const sim::Request& r) {
        if (r.paramCount >= 4 && GetU16(r.params) == m.Image().RamPointer(8) && r.params[3] == 4 * delay)
            m.Faults().dropAnswer = 1;
        return write(m, r);
    });
}

TEST(RunnerStop, TimeoutEndsARunWhoseMeterWentSilentWithTheEmulationOff)
{
    CommaSeparator comma;
    // Yes to every question: the run would go on asking about the silent meter for ever, but for the time limit.
    HeadlessRig rig(Options({"--simulate", "--answer", "yes", "--timeout", "300"}));
    GoSilentAtDelay(rig, 3);
    EXPECT_EQ(rig.Run(), veStopped) << rig.err.str();
    EXPECT_EQ(LastLine(rig.out.str()),
              "Поверка прервана: истекло время работы, 300 с (Развертка задержек 4 из 12); режим эмуляции в приборе "
              "не выключен.");
    // The switch-off write was done by the meter; only its answer was lost.
    EXPECT_TRUE(EmulationOff(*rig.image));
    EXPECT_FALSE(rig.line.GetOpen());
    const std::string log = rig.err.str();
    EXPECT_NE(log.find("Прибор не отвечает. Проверьте кабель, порт и адрес прибора. Продолжать попытки? - ответ: Да"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Остановка: истекло время работы, 300 с"), std::string::npos);
    // It ends at the limit, with three repetitions of the switch-off at most after it.
    EXPECT_GE(rig.loop.NowMs(), 300'000u);
    EXPECT_LT(rig.loop.NowMs(), 300'000u + 4 * 1500u + 1000u);
}

TEST(RunnerStop, StopMidRunSwitchesTheEmulationOffAndEndsWithStatusFive)
{
    CommaSeparator comma;
    HeadlessRig rig(Options({"--simulate"}));
    bool stopped = false;
    const sim::SimMeter::CommandHandler write = rig.meter.CommandHandlerFor(kWriteRam);
    rig.meter.SetCommandHandler(kWriteRam, [&, write](sim::SimMeter& m, const sim::Request& r) {
        // As a signal would: from the loop, in the middle of the sweep.
        if (!stopped && r.paramCount >= 4 && GetU16(r.params) == m.Image().RamPointer(8) && r.params[3] == 4 * 5) {
            stopped = true;
            rig.loop.Post([&] { rig.run.Stop("получен сигнал завершения"); });
        }
        return write(m, r);
    });
    EXPECT_EQ(rig.Run(), veStopped) << rig.err.str();
    EXPECT_EQ(LastLine(rig.out.str()), "Поверка прервана: получен сигнал завершения (Развертка задержек 6 из 12).");
    EXPECT_TRUE(EmulationOff(*rig.image));
    EXPECT_FALSE(rig.line.GetOpen());
}

// The position and the values of --kfs-write are the technician's: they confirm the write whatever --answer says.
TEST(RunnerStop, KfsWriteIsConfirmedByItsOwnOption)
{
    CommaSeparator comma;
    for (bool yes : {false, true}) {
        RunRig rig(InCorrectionMode(sim::DefaultDescription()), "2=1.0100", yes);
        EXPECT_EQ(rig.Run(), veComplete) << rig.log.str();
        const std::string log = rig.log.str();
        EXPECT_NE(log.find("Внимание. Записать KFS в прибор? Датчик: Модуль №1 FSB Диаметр 0,050  КFS с 1,0035000 на "
                           "1,0100000 - ответ: Да"),
                  std::string::npos)
            << log;
        EXPECT_FLOAT_EQ(rig.image->flash.F32(sim::layout::SensorAddress(2) + 178), 1.01f);
    }
}

}  // namespace
}  // namespace rv::test
