// The main window's controller against the simulated meter in virtual time: connect and the read chain, the
// header, refused configurations, the emulator question, the zero and nominal measurements with their
// limits, the run's group of the emulator block, stopping and abandoning runs, and saving the protocol.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/MainRig.h"
#include "app/window/TConfigReadChain.h"
#include "core/Cp1251.h"
#include "meter/TRurIvaQs_6x6.h"
#include "sim/EmulatorPhysics.h"
#include "sim/MeterCommands.h"

namespace rv::test {
namespace {

using sim::layout::SensorAddress;

constexpr uint8_t kReadRam = 0x10;
constexpr uint8_t kWriteRam = 0x20;
constexpr uint8_t kReadFlash = 0x30;
constexpr uint8_t kReadFlashLarge = 0x31;
constexpr uint8_t kIdentity = 0x0F;

std::vector<std::string> Lines(const MainRig& rig)
{
    return rig.ctl.View().Memo1Lines;
}

// The readings of a flow calculation replaced by the test's: flow and raw of every channel, set after the
// meter has measured. The meter must not sample again on reads for the values to hold.
void ScriptReadings(MainRig& rig, std::function<void(int sample, float& flow, float& raw)> reading)
{
    auto measured = std::make_shared<int>(0);
    const sim::SimMeter::CommandHandler physics = rig.meter.CommandHandlerFor(sim::cmd::kStartFlowCalculation);
    rig.meter.SetCommandHandler(sim::cmd::kStartFlowCalculation,
                                [physics, reading, measured](sim::SimMeter& m, const sim::Request& r) {
                                    sim::Answer a = physics(m, r);
                                    const uint16_t block = m.Image().RamPointer(6);
                                    for (int c = 0; c < 6; ++c) {
                                        float flow = 0.0f, raw = 0.0f;
                                        reading(*measured, flow, raw);
                                        m.Image().ram.PutF32(block + 4u * (8 + c), flow);
                                        m.Image().ram.PutF32(block + 4u * (14 + c), raw);
                                    }
                                    ++*measured;
                                    return a;
                                });
}

sim::MeterDescription Scripted(sim::MeterDescription d = sim::DefaultDescription())
{
    d.emulator.resampleOnRead = false;
    return d;
}

TEST(MainConnection, ReadsTheRecordsInOrderAndPrintsTheHeaderOfTheChosenSensor)
{
    CommaSeparator comma;
    MainRig rig;
    rig.prompter.sensor = 2;
    rig.Connect("COM3");
    EXPECT_EQ(rig.line.GetCommNet(), "COM3");  // the combo's text, not an item
    EXPECT_FALSE(rig.ctl.View().CBPortNameEnabled);
    EXPECT_FALSE(rig.ctl.View().TabSheet2Visible);
    EXPECT_EQ(rig.ctl.Stage(), msIdentifying);
    // DTR 100 ms after the port opened, RTS 100 ms later, then the identity request.
    rig.loop.RunFor(100);
    EXPECT_TRUE(rig.line.GetDTR());
    EXPECT_FALSE(rig.line.GetRTS());
    EXPECT_TRUE(rig.Requests().empty());
    rig.loop.RunFor(100);
    EXPECT_TRUE(rig.line.GetRTS());
    ASSERT_TRUE(rig.RunToStage(msReady));

    EXPECT_EQ(rig.statuses, (std::vector<std::string>{"Чтение конфигурации прибора.", "Чтение информации датчиков.",
                                                      "Выбор датчика для проверки."}));
    // The identity, then 3 configuration reads (the first in the 16-bit form) and 3 per sensor.
    std::vector<std::pair<uint8_t, uint32_t>> reads;
    for (const auto& r : rig.Requests())
        if (r.command == kReadFlashLarge && GetU32(r.params.data()) == 0x10)
            continue;  // the pointer table
        else if (r.command == kReadFlash)
            reads.push_back({r.command, GetU16(r.params.data())});
        else if (r.command == kReadFlashLarge)
            reads.push_back({r.command, GetU32(r.params.data())});
    ASSERT_EQ(reads.size(), 21u);
    EXPECT_EQ(reads[0], std::make_pair(kReadFlash, 0x100u));
    EXPECT_EQ(reads[2], std::make_pair(kReadFlashLarge, 0x1C8u));
    EXPECT_EQ(reads[3], std::make_pair(kReadFlashLarge, SensorAddress(0)));
    EXPECT_EQ(reads[20], std::make_pair(kReadFlashLarge, SensorAddress(5) + 200));
    EXPECT_EQ(rig.ctl.ReadStep(), TConfigReadChain::kDone);
    for (int i = 0; i < 6; ++i) {
        std::vector<uint8_t> flash(kSensorImageSize);
        rig.image->flash.Read(SensorAddress(i), flash.data(), flash.size());
        EXPECT_TRUE(std::equal(flash.begin(), flash.end(), rig.ctl.SensorImage()[static_cast<size_t>(i)].begin()));
    }

    ASSERT_EQ(rig.prompter.choices.size(), 4u);
    EXPECT_EQ(rig.prompter.Of("choose").at(0).caption, "Выбор датчика для проверки");
    EXPECT_EQ(rig.prompter.choices[0].Caption, "Модуль №1 FSA Диаметр 0,025");
    EXPECT_EQ(rig.prompter.choices[2].Caption, "Модуль №1 FSB Диаметр 0,050");
    EXPECT_EQ(Lines(rig), (std::vector<std::string>{
                              "Серийный номер счетчика №21345", "Модуль №1 исполнение 07", "FS/B FS-50S серийный №2003",
                              "Максимальный расход счетчика QVmax=50м3/ч", "КFS датчика расхода 1,0035"}));
    EXPECT_EQ(rig.ctl.Fields().SelectedSensor, 2);
    EXPECT_EQ(rig.ctl.Fields().ChannelMask, 0x04);
    EXPECT_EQ(rig.ctl.Fields().TableSet, 2);
    EXPECT_TRUE(rig.ctl.View().Button1Enabled);
    EXPECT_TRUE(rig.ctl.View().ChB_backEnabled);
}

TEST(MainConnection, ThreePathHeaderWithAdditionalInformation)
{
    CommaSeparator comma;
    sim::MeterDescription d = sim::DefaultDescription();
    d.pathsPerSensor = 3;
    d.modules = {{2, 12, 0}};
    for (int i = 0; i < 6; ++i) {
        sim::SensorDescription s;
        s.type = 3;
        s.module = 2;
        s.serial = "77";
        s.qvmax = "200";
        s.kfsText = "1,00" + std::to_string(i);
        s.nominalMax = 200;
        s.kfs = 1.0f;
        s.diameter = 0.15f;
        d.sensors[static_cast<size_t>(i)] = s;
    }
    MainRig rig(d);
    rig.prompter.sensor = 3;
    rig.ctl.SetChBDopInfoChecked(true);
    ASSERT_TRUE(rig.ConnectToReady());
    // Positions 0 and 3 only, one below the other.
    ASSERT_EQ(rig.prompter.choices.size(), 2u);
    EXPECT_EQ(rig.prompter.choices[1].Position, 3);
    EXPECT_EQ(Lines(rig), (std::vector<std::string>{
                              "Серийный номер счетчика №21345", "Модуль №2 исполнение 12", "FS/C FS-150T серийный №77",
                              "Максимальный расход счетчика QVmax=200м3/ч", "Задержка одного такта dT=5,5556E-8c",
                              "КFS датчика расхода ", "КFS1 = 1,003", "КFS2 = 1,004", "КFS3 = 1,005"}));
    EXPECT_EQ(rig.ctl.Fields().ChannelMask, 0x38);
}

TEST(MainConnection, LargeOnePathSensorNearTheEndSaysWhichKfsRecordsAreMissing)
{
    CommaSeparator comma;
    sim::MeterDescription d = sim::DefaultDescription();
    sim::SensorDescription s = *d.sensors[0];
    s.diameter = 0.15f;
    s.kfsText = "0,999";
    d.sensors[4] = s;
    MainRig rig(d);
    rig.prompter.sensor = 4;
    ASSERT_TRUE(rig.ConnectToReady());
    const auto lines = Lines(rig);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[4], "КFS датчика расхода ");
    EXPECT_EQ(lines[5], "КFS1 = 0,999");
    EXPECT_EQ(lines[6], "КFS2 = ");  // record 5 is there but empty
    EXPECT_EQ(lines[7], "КFS3 = нет записи датчика (позиция 6 вне 0..5)");
}

TEST(MainConnection, TextsFromTheMeterAreDecodedAndBoundedByTheirFields)
{
    MainRig rig;
    const uint32_t s0 = SensorAddress(0);
    // A serial number that fills its field without a terminating zero runs into QVmax in the record.
    const std::string serial = ToCp1251("Ж12345678Я");
    rig.image->flash.Write(s0 + 130, serial.data(), serial.size());
    ASSERT_TRUE(rig.ConnectToReady());
    EXPECT_EQ(Lines(rig).at(2), "FS/A FS-25S серийный №Ж12345678Я");
    EXPECT_EQ(Lines(rig).at(3), "Максимальный расход счетчика QVmax=12м3/ч");
}

TEST(MainConnection, ExecutionNumberHasAtLeastTwoDigits)
{
    for (auto [execution, text] : {std::pair{7, "07"}, {12, "12"}, {0, "00"}, {310, "310"}}) {
        sim::MeterDescription d = sim::DefaultDescription();
        d.modules = {{1, static_cast<uint16_t>(execution), 2}};
        MainRig rig(d);
        ASSERT_TRUE(rig.ConnectToReady());
        EXPECT_EQ(Lines(rig).at(1), std::string("Модуль №1 исполнение ") + text);
    }
}

// Values from the meter that would make the window read outside a record stop the readout with a message.
TEST(MainConnection, RefusesPathCountsAndModuleNumbersOutsideTheRecord)
{
    for (int paths : {0, 2, 6}) {
        MainRig rig;
        rig.image->flash.PutU8(0x100 + 32, static_cast<uint8_t>(paths));
        rig.Connect();
        ASSERT_TRUE(rig.RunToStage(msStopped));
        EXPECT_EQ(rig.ctl.StopReason(), "Недопустимое число путей на датчик в конфигурации прибора: " +
                                            std::to_string(paths) + " (допустимо 1 или 3).");
        EXPECT_EQ(rig.prompter.dialogs, 0);
        EXPECT_TRUE(Lines(rig).empty());
        EXPECT_EQ(rig.Requests(kReadRam).size(), 0u);  // no emulator check follows
    }
    for (int module : {7, 8, 255}) {
        MainRig rig;
        rig.image->flash.PutU8(SensorAddress(0) + 123, static_cast<uint8_t>(module));
        rig.Connect();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Stage() == msReady || rig.ctl.Stage() == msStopped; }));
        if (module == 7) {
            EXPECT_EQ(rig.ctl.Stage(), msReady);
            EXPECT_EQ(Lines(rig).at(1), "Модуль №7 исполнение 00");
            continue;
        }
        EXPECT_EQ(rig.ctl.Stage(), msStopped);
        EXPECT_EQ(rig.ctl.StopReason(), "Номер модуля " + std::to_string(module) +
                                            " датчика вне записи конфигурации прибора (допустимо 0..7).");
        EXPECT_EQ(rig.prompter.Of("message").back().caption, "Ошибка");
    }
}

TEST(MainConnection, NoPresentSensorOffersNothingAndKeepsThePreviousChoice)
{
    sim::MeterDescription d = sim::DefaultDescription();
    for (auto& s : d.sensors)
        if (s) s->present = 0;
    MainRig rig(d);
    ASSERT_TRUE(rig.ConnectToReady());
    EXPECT_TRUE(rig.prompter.choices.empty());
    EXPECT_EQ(rig.ctl.Fields().SelectedSensor, 0);
    EXPECT_EQ(Lines(rig).at(2), "FS/A FS-25S серийный №1001");
}

TEST(MainConnection, RepetitionsShowInTheStatusLineUntilDisconnect)
{
    sim::FaultPlan silent;
    silent.dropAnswer = 1;
    MainRig rig(sim::DefaultDescription(), silent);
    rig.Connect();
    rig.loop.RunFor(5000);
    ASSERT_GE(rig.statuses.size(), 2u);
    EXPECT_EQ(rig.statuses[0], "Переповторы 1");
    EXPECT_EQ(rig.statuses[1], "Переповторы 2");
    rig.Disconnect();
    const SLineStatistics before = rig.ctl.Net_6x6().GetStatistics();
    rig.loop.RunFor(10000);
    // Nothing is tried any more, not even towards the closed port.
    EXPECT_EQ(rig.ctl.Net_6x6().GetStatistics().Frames, before.Frames);
    EXPECT_EQ(rig.ctl.Net_6x6().GetStatistics().Repetitions, before.Repetitions);
    EXPECT_EQ(rig.ctl.Stage(), msIdle);
}

TEST(MainConnection, PortThatCannotBeOpenedSaysWhyAndTheButtonComesBackUp)
{
    MainRig rig;
    rig.line.SetRefuseOpen("Permission denied");
    rig.Connect("ttyUSB0");
    EXPECT_EQ(rig.ctl.Stage(), msStopped);
    ASSERT_EQ(rig.prompter.Count("message"), 1);
    EXPECT_EQ(rig.prompter.Of("message")[0].text, "Невозможно открыть порт ttyUSB0: Permission denied");
    EXPECT_EQ(rig.prompter.Of("message")[0].caption, "Ошибка");
    EXPECT_FALSE(rig.ctl.View().SBOpenCloseDown);
    EXPECT_TRUE(rig.ctl.View().CBPortNameEnabled);
    rig.loop.RunFor(10000);
    EXPECT_TRUE(rig.line.Writes().empty());
    EXPECT_FALSE(rig.line.GetDTR());

    // The next attempt, with the port free, works.
    rig.line.SetRefuseOpen("");
    ASSERT_TRUE(rig.ConnectToReady());
    EXPECT_EQ(rig.ctl.Stage(), msReady);
}

TEST(MainEmulatorCheck, QuestionRepeatsTheCheckOnYesAndEndsTheProgramOnNo)
{
    sim::MeterDescription d = sim::DefaultDescription();
    d.emulatorMode = false;
    {
        MainRig rig(d);
        rig.prompter.answers = {true};
        // The technician switches the meter over while the box is up.
        rig.prompter.onQuestion = [&](bool) { rig.image->SetEmulatorMode(true); };
        ASSERT_TRUE(rig.ConnectToReady());
        EXPECT_EQ(rig.ctl.Stage(), msReady);
        ASSERT_EQ(rig.prompter.Count("question"), 1);
        EXPECT_EQ(rig.prompter.Of("question")[0].text, "Для проверки войдите в режим имитатора.");
        EXPECT_EQ(rig.prompter.Of("question")[0].caption, "Внимание.");
        EXPECT_TRUE(rig.ctl.Fields().EmulatorConfirmed);
    }
    {
        MainRig rig(d);
        rig.prompter.answers = {true, false};
        rig.Connect();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.closed; }));
        // The header it printed is offered for saving before the program ends.
        ASSERT_EQ(rig.prompter.Count("question"), 3);
        EXPECT_EQ(rig.prompter.Of("question")[2].text, "Сохранить протокол?");
        EXPECT_EQ(rig.ctl.Stage(), msClosing);
        EXPECT_FALSE(rig.ctl.View().Button1Enabled);
        EXPECT_EQ(rig.Requests(kReadFlashLarge).size(), 20u + 2u);  // the read chain and two pointer-table reads
        const size_t writes = rig.line.Writes().size();
        rig.loop.RunFor(10000);
        EXPECT_EQ(rig.line.Writes().size(), writes);
    }
}

TEST(MainRun, ZeroFlowMeanAtTheLimitPassesAndAboveItStops)
{
    // The meter reads the same zero flow at every sample; the mean is summed and held in 32 bits.
    for (auto [zero, passes] : {std::pair{0.0499, true}, {-0.0499, true}, {0.0501, false}, {-0.0501, false}}) {
        sim::MeterDescription d = sim::DefaultDescription();
        d.emulator.zeroFlow = zero;
        MainRig rig(d);
        ASSERT_TRUE(rig.ConnectToReady());
        rig.ctl.Button1Click();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().RunState >= 2 || rig.ctl.Stage() == msStopped; }));
        EXPECT_EQ(rig.ctl.Stage() != msStopped, passes) << zero;
        if (passes) {
            EXPECT_EQ(rig.ctl.View().RunPhase, "Номинальный расход");
        }
        if (!passes) {
            EXPECT_EQ(rig.ctl.View().LStatusCaption,
                      "Поверка прервана: Обнаружено движение жидкости установите гидроноль.");
            EXPECT_EQ(Lines(rig).back(),
                      "Поверка прервана: Обнаружено движение жидкости установите гидроноль (Проверка нуля).");
            EXPECT_EQ(rig.prompter.Of("message").back().text, "Обнаружено движение жидкости\nустановите гидроноль");
            EXPECT_EQ(rig.prompter.Of("message").back().caption, "Ошибка");
            // Stopped with the meter in its normal mode: the emulator block was never written.
            EXPECT_TRUE(rig.Requests(kWriteRam).empty());
            const size_t writes = rig.line.Writes().size();
            rig.loop.RunFor(10000);
            EXPECT_EQ(rig.line.Writes().size(), writes);
        }
    }
    // A mean held as the float nearest 0.05 lies just above 0.05: it stops the run.
    {
        MainRig rig(Scripted());
        ScriptReadings(rig, [](int sample, float& flow, float&) { flow = sample == 0 ? 0.05f * 20 : 0.0f; });
        ASSERT_TRUE(rig.ConnectToReady());
        rig.ctl.Button1Click();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().RunState >= 2 || rig.ctl.Stage() == msStopped; }));
        EXPECT_EQ(rig.ctl.Fields().ZeroFlowSum, 0.05f);
        EXPECT_EQ(rig.ctl.Stage(), msStopped);
    }
}

// The nominal reading at delay 1 (raw / KFS, KFS 1 here) sets the largest delay of the sweep.
TEST(MainRun, LargestDelayFromTheNominalReading)
{
    struct Case {
        float nominalMax;
        float nominalSum;
        int mmax;
    };
    for (const Case& c : {Case{20, 2.5f, 9}, Case{20, 2.2f, 10}, Case{7, 5.0f, 1}, Case{7, 1.0f, 8}}) {
        sim::MeterDescription d = Scripted();
        d.sensors[0]->nominalMax = c.nominalMax;
        d.sensors[0]->kfs = 1.0f;
        MainRig rig(d);
        ScriptReadings(rig, [&](int, float& flow, float& raw) {
            flow = 0.0f;
            raw = c.nominalSum;
        });
        rig.ctl.SetChBDopInfoChecked(true);
        ASSERT_TRUE(rig.ConnectToReady());
        rig.ctl.Button1Click();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Stage() == msSweeping || rig.closed; }));
        EXPECT_FLOAT_EQ(rig.ctl.Fields().NominalSum, c.nominalSum);
        EXPECT_EQ(rig.ctl.Fields().Mmax, c.mmax) << c.nominalMax << " " << c.nominalSum;
        EXPECT_EQ(rig.ctl.FlowMath()->MaxDelay, c.mmax);
        EXPECT_EQ(Lines(rig).back(), "Максимально возможная задержка Mmax=" + std::to_string(c.mmax));
        EXPECT_EQ(rig.ctl.View().RunPhase, "Развертка задержек 1 из " + std::to_string(c.mmax + 1));
    }
}

TEST(MainRun, NominalReadingBelowOneIsASensorErrorThatEndsTheProgram)
{
    sim::MeterDescription d = Scripted();
    d.sensors[0]->kfs = 1.0f;
    MainRig rig(d);
    ScriptReadings(rig, [](int, float& flow, float& raw) {
        flow = 0.0f;
        raw = 0.999f;
    });
    ASSERT_TRUE(rig.ConnectToReady());
    rig.ctl.Button1Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.closed; }));
    EXPECT_EQ(rig.prompter.Of("message").back().text, "Ошибка датчика.");
    EXPECT_EQ(rig.ctl.Stage(), msClosing);
    EXPECT_EQ(rig.ctl.StopReason(), "Ошибка датчика.");
    // The program ends, but the meter is not left emulating: the block is written back as at the end of a run.
    const uint16_t emu = rig.image->RamPointer(8);
    EXPECT_EQ(rig.image->ram.U8(emu), 0);
    EXPECT_EQ(rig.image->ram.U8(emu + 1) & 0x60, 0);
    EXPECT_EQ(Lines(rig).back(), "Поверка прервана: Ошибка датчика (Номинальный расход).");
    const size_t writes = rig.line.Writes().size();
    rig.loop.RunFor(10000);
    EXPECT_EQ(rig.line.Writes().size(), writes);
}

TEST(MainRun, LargestDelayBeyondTheSweepStopsAndSwitchesTheEmulatorOff)
{
    sim::MeterDescription d = Scripted();
    d.sensors[0]->nominalMax = 200;
    d.sensors[0]->kfs = 1.0f;
    MainRig rig(d);
    ScriptReadings(rig, [](int, float& flow, float& raw) {
        flow = 0.0f;
        raw = 2.0f;  // 200 / 2 + 1 = 101
    });
    ASSERT_TRUE(rig.ConnectToReady());
    rig.ctl.Button1Click();
    ASSERT_TRUE(rig.RunToStage(msStopped));
    EXPECT_EQ(rig.ctl.StopReason(), "Максимально возможная задержка Mmax=101 вне диапазона 0..19: поверка невозможна.");
    rig.loop.RunFor(5000);
    const uint16_t emu = rig.image->RamPointer(8);
    EXPECT_EQ(rig.image->ram.U8(emu), 0);
    EXPECT_EQ(rig.image->ram.U8(emu + 1) & 0x60, 0);
    EXPECT_FALSE(rig.closed);
}

TEST(MainRun, RunUsesTheEmulatorGroupOfItsChannels)
{
    // A one-path sensor at position 2 uses the first group; a three-path sensor at position 3 the second.
    for (auto [paths, position, group] : {std::tuple{1, 2, 0}, {3, 3, 4}, {3, 0, 0}, {1, 3, 4}}) {
        sim::MeterDescription d = sim::DefaultDescription();
        d.pathsPerSensor = static_cast<uint8_t>(paths);
        for (int i = 0; i < 6; ++i) d.sensors[static_cast<size_t>(i)] = d.sensors[0];
        MainRig rig(d);
        rig.prompter.sensor = position;
        ASSERT_TRUE(rig.ConnectToReady());
        const uint16_t emu = rig.image->RamPointer(8);
        std::vector<uint8_t> before(8);
        rig.image->ram.Read(emu, before.data(), 8);
        rig.ctl.Button1Click();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().RunState == 4; }));
        const int other = 4 - group;
        EXPECT_EQ(rig.image->ram.U8(emu + group), 4);
        EXPECT_EQ(rig.image->ram.U8(emu + group + 1), before[static_cast<size_t>(group + 1)] | 0x60);
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(rig.image->ram.U8(emu + other + k), before[static_cast<size_t>(other + k)]);
    }
}

TEST(MainRun, RequiredFlowsFollowTheClassAndThePaths)
{
    CommaSeparator comma;
    struct Case {
        uint8_t tableSet;
        uint8_t paths;
        std::array<const char*, 5> fields;
        int points;
    };
    // Size 2 (20 m3/h).
    const Case cases[] = {
        {0, 1, {"20,0000", "6,3246", "2,0000", "0,6325", "0,2000"}, 5},
        {0, 3, {"20,0000", "5,5663", "1,5492", "0,4312", "0,1200"}, 5},
        {1, 1, {"20,0000", "20,0000", "20,0000", "0,8000", "0"}, 3},
        {2, 1, {"20,0000", "2,0000", "0,4000", "0,2000", "0"}, 4},
        {2, 3, {"20,0000", "1,0000", "0,2000", "0,0800", "0"}, 4},
        {3, 1, {"20,0000", "5,0297", "1,2649", "0,3181", "0,0800"}, 5},
        {4, 1, {"20,0000", "20,0000", "0,8000", "0,0800", "0"}, 3},
    };
    for (const Case& c : cases) {
        sim::MeterDescription d = sim::DefaultDescription();
        d.pathsPerSensor = c.paths;
        d.modules = {{1, 7, c.tableSet}};
        d.sensors[0] = d.sensors[1];
        MainRig rig(d);
        ASSERT_TRUE(rig.ConnectToReady());
        rig.ctl.Button1Click();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().RunState >= 0; }));
        for (size_t k = 0; k < 5; ++k)
            EXPECT_EQ(rig.ctl.View().EditDigitalText[k], c.fields[k]) << int(c.tableSet) << " " << k;
        EXPECT_EQ(rig.ctl.Fields().PointCount, c.points);
    }
}

// The readout refuses the record before the header; the button then starts nothing.
TEST(MainRun, KfsThatIsNoPositiveNumberRefusesTheRun)
{
    CommaSeparator comma;
    for (auto [kfs, text] : {std::pair{0.0f, "0"},
                             {-1.0f, "-1"},
                             {std::numeric_limits<float>::quiet_NaN(), "не число"},
                             {std::numeric_limits<float>::infinity(), "бесконечность"}}) {
        sim::MeterDescription d = sim::DefaultDescription();
        MainRig rig(d);
        rig.image->flash.PutF32(SensorAddress(0) + 178, kfs);
        ASSERT_TRUE(rig.ConnectToReady());
        EXPECT_EQ(rig.ctl.Stage(), msStopped);
        EXPECT_EQ(rig.ctl.StopReason(),
                  std::string("Коэффициент КFS датчика в позиции 0 (запись прибора) недопустим: ") + text +
                      ". Нужно конечное число больше 0. Поверка невозможна.");
        EXPECT_TRUE(Lines(rig).empty());
        rig.ctl.Button1Click();
        const size_t writes = rig.line.Writes().size();
        rig.loop.RunFor(5000);
        EXPECT_EQ(rig.line.Writes().size(), writes);
    }
}

// A disconnect in the middle of the sweep leaves nothing running; a new connection starts over and completes.
TEST(MainRun, DisconnectDuringTheSweepAbandonsTheRunCleanly)
{
    CommaSeparator comma;
    MainRig reference;
    ASSERT_TRUE(reference.Verify(false, false));
    ASSERT_EQ(reference.ctl.Stage(), msDone);

    MainRig rig;
    ASSERT_TRUE(rig.ConnectToReady());
    rig.ctl.Button1Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().SweepDelay == 3; }));
    rig.Disconnect();
    // The port goes once the emulation is switched off, as at the end of a run.
    ASSERT_TRUE(rig.RunToStage(msIdle));
    const uint16_t emu = rig.image->RamPointer(8);
    EXPECT_EQ(rig.image->ram.U8(emu), 0);
    EXPECT_EQ(rig.image->ram.U8(emu + 1) & 0x60, 0);
    EXPECT_EQ(Lines(rig).back(), "Поверка прервана: соединение разорвано (Развертка задержек 4 из 12).");
    EXPECT_FALSE(rig.line.GetOpen());
    EXPECT_FALSE(rig.ctl.View().Button1Enabled);
    EXPECT_TRUE(rig.ctl.View().TabSheet2Visible);
    const size_t writes = rig.line.Writes().size();
    const uint64_t frames = rig.ctl.Net_6x6().GetStatistics().Frames;
    rig.loop.RunFor(30000);
    EXPECT_EQ(rig.line.Writes().size(), writes);
    EXPECT_EQ(rig.ctl.Net_6x6().GetStatistics().Frames, frames);
    // A press while disconnected sends nothing.
    rig.ctl.Button1Click();
    rig.loop.RunFor(1000);
    EXPECT_EQ(rig.line.Writes().size(), writes);

    ASSERT_TRUE(rig.ConnectToReady());
    EXPECT_EQ(rig.Requests(kIdentity).size(), 2u);
    rig.ctl.Button1Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Stage() == msDone || rig.ctl.Stage() == msStopped; }));
    ASSERT_EQ(rig.ctl.Stage(), msDone) << rig.ctl.StopReason();
    EXPECT_EQ(rig.Protocol(), reference.Protocol());
}

// A second press asks first. No goes on as if nothing happened; Yes stops the run (its emulation switched off,
// its interruption line) and starts over with an empty line and the header again, so each run is whole.
TEST(MainRun, PressDuringARunAsksAndStartsOverWithItsOwnHeader)
{
    CommaSeparator comma;
    MainRig reference;
    ASSERT_TRUE(reference.Verify(false, false));
    const std::string full = reference.Protocol();
    const std::string header = full.substr(0, full.find("\n\n") + 1);

    for (bool again : {false, true}) {
        MainRig rig;
        rig.prompter.answers = {again};
        ASSERT_TRUE(rig.ConnectToReady());
        rig.ctl.Button1Click();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().SweepDelay == 2; }));
        rig.ctl.Button1Click();
        ASSERT_EQ(rig.prompter.Count("question"), 1);
        EXPECT_EQ(rig.prompter.Of("question")[0].text, "Поверка уже идет. Прервать ее и начать заново?");
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Stage() == msDone || rig.ctl.Stage() == msStopped; }));
        ASSERT_EQ(rig.ctl.Stage(), msDone) << rig.ctl.StopReason();
        if (!again) {
            EXPECT_EQ(rig.Protocol(), full);
            continue;
        }
        EXPECT_EQ(rig.Protocol(),
                  header + "Поверка прервана: начата новая поверка (Развертка задержек 3 из 12).\n\n" + full);
    }
}

// A port that closes under the window (an adapter unplugged) refuses every frame: the connection ends with a
// message instead of repeating forever, and the protocol says where the run was and that no switch-off reached the
// meter.
TEST(MainRun, PortThatVanishesDuringTheRunEndsTheConnection)
{
    VirtualLoop loop;
    sim::SimMeter meter(sim::DefaultMeter());
    VanishingLine line(meter, &loop);
    line.SetOpen(false);
    ScriptedPrompter prompter;
    TFMainController ctl(line, prompter, &loop);
    ctl.SetSBOpenCloseDown(true);
    ctl.SBOpenCloseClick();
    ASSERT_TRUE(loop.RunUntil([&] { return ctl.Stage() == msReady; }, 60'000));
    ctl.Button1Click();
    ASSERT_TRUE(loop.RunUntil([&] { return ctl.Stage() == msSweeping; }, 600'000));
    line.SetOpen(false);
    ASSERT_TRUE(loop.RunUntil([&] { return ctl.Stage() == msStopped; }, 10'000));
    EXPECT_EQ(ctl.StopReason(), "Связь с прибором потеряна: устройство отключено");
    EXPECT_EQ(ctl.View().Memo1Lines.back(),
              "Поверка прервана: связь с прибором потеряна (Развертка задержек 1 из 12); режим эмуляции в приборе не "
              "выключен.");
    EXPECT_EQ(prompter.Count("message"), 1);
    EXPECT_FALSE(ctl.View().ButtonStopEnabled);
    EXPECT_FALSE(ctl.View().SBOpenCloseDown);
    EXPECT_TRUE(ctl.View().CBPortNameEnabled);
    EXPECT_FALSE(ctl.View().Button1Enabled);
    const uint64_t refused = ctl.Net_6x6().GetStatistics().TransmitErrors;
    loop.RunFor(30'000);
    EXPECT_EQ(ctl.Net_6x6().GetStatistics().TransmitErrors, refused);
}

// Points that cannot be set: a field edited to no number stops the series; a flow beyond the sweep is
// reported and the series goes on; a flow that is not positive stops it.
TEST(MainPoints, RequiredFlowsTheSeriesCannotUse)
{
    CommaSeparator comma;
    {
        MainRig rig;
        ASSERT_TRUE(rig.ConnectToReady());
        rig.ctl.Button1Click();
        ASSERT_TRUE(rig.RunToStage(msSweeping));
        rig.ctl.SetEditDigitalText(1, "12a");
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Stage() == msStopped; }));
        EXPECT_EQ(rig.prompter.Of("exception").at(0).text, "Значение \"12a\" не является числом.");
        EXPECT_EQ(Lines(rig).back(), "Поверка прервана: Значение \"12a\" не является числом (Точка 2 из 4).");
        EXPECT_EQ(Lines(rig)[Lines(rig).size() - 2], "");
        EXPECT_EQ(Lines(rig)[Lines(rig).size() - 3], "Допустимая погрешность измерения 1,5%");
    }
    {
        MainRig rig;
        ASSERT_TRUE(rig.ConnectToReady());
        rig.ctl.Button1Click();
        ASSERT_TRUE(rig.RunToStage(msSweeping));
        rig.ctl.SetEditDigitalText(1, "100");
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Stage() == msDone || rig.ctl.Stage() == msStopped; }));
        EXPECT_EQ(rig.ctl.Stage(), msDone);
        EXPECT_EQ(rig.ctl.SkippedPoints(), 1);
        const std::string protocol = rig.Protocol();
        EXPECT_NE(protocol.find("Номинальное значение расхода 100м3/ч\nТочка не проверена: Расход не покрывается "
                                "диапазоном задержек 0..11"),
                  std::string::npos)
            << protocol;
        EXPECT_NE(protocol.find("Номинальное значение расхода 0,2400м3/ч"), std::string::npos);
        EXPECT_EQ(rig.meter.Image().emulatorState.measuredFlows.size(), 3u);
    }
    {
        MainRig rig;
        ASSERT_TRUE(rig.ConnectToReady());
        rig.ctl.Button1Click();
        ASSERT_TRUE(rig.RunToStage(msSweeping));
        rig.ctl.SetEditDigitalText(2, "0");
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Stage() == msStopped; }));
        EXPECT_EQ(rig.ctl.StopReason(),
                  "Требуемый расход \"0\" должен быть положительным числом. Поверка остановлена.");
    }
}

TEST(MainSave, WritesTheProtocolInCodePage1251WithCrLfWholeOrNotAtAll)
{
    const std::string dir = ::testing::TempDir();
    const std::string path = dir + "/rivanta-protocol-save.TXT";
    std::remove(path.c_str());
    MainRig rig;
    ASSERT_TRUE(rig.ConnectToReady());

    rig.prompter.savePath.reset();
    rig.ctl.SpeedButton1Click();  // cancelled
    EXPECT_FALSE(std::ifstream(path).good());
    EXPECT_EQ(rig.prompter.Of("save").at(0).text, "Сохранение отчета|Текстовый файл|*.TXT|TXT");

    rig.prompter.savePath = path;
    rig.ctl.SpeedButton1Click();
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string expected;
    for (const std::string& l : Lines(rig)) expected += ToCp1251(l) + "\r\n";
    EXPECT_EQ(bytes, expected);
    EXPECT_NE(bytes.find("\xD1\xE5\xF0\xE8\xE9\xED\xFB\xE9"), std::string::npos);  // "Серийный"
    EXPECT_NE(bytes.find("\xCA"
                         "FS"),
              std::string::npos);  // the Cyrillic К

    // A file that cannot be written is reported and the old one stays as it was.
    rig.prompter.savePath = dir + "/no-such-folder/protocol.TXT";
    rig.ctl.SpeedButton1Click();
    ASSERT_EQ(rig.prompter.Count("exception"), 1);
    EXPECT_NE(rig.prompter.Of("exception")[0].text.find("no-such-folder"), std::string::npos);
    std::remove(path.c_str());
}

TEST(MainSave, EmptyProtocolGivesAnEmptyFile)
{
    const std::string path = ::testing::TempDir() + "/rivanta-protocol-empty.TXT";
    MainRig rig;
    rig.prompter.savePath = path;
    rig.ctl.SpeedButton1Click();
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in.good());
    EXPECT_EQ(in.peek(), std::ifstream::traits_type::eof());
    std::remove(path.c_str());
}

}  // namespace
}  // namespace rv::test
