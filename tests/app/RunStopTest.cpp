// The verification run as the technician follows and ends it, in virtual time against the simulated meter: "Стоп"
// in each phase and a disconnect in the middle, each leaving the meter's emulation off and the protocol ending with
// the interruption line; one progress that reaches its end once and never goes
// back; the question about a meter that has stopped answering; and the question about an unsaved protocol before
// the window closes or connects anew.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/MainRig.h"
#include "core/Cp1251.h"
#include "meter/TRurIvaQs_6x6.h"

namespace rv::test {
namespace {

constexpr uint8_t kWriteRam = 0x20;
const char kSilentQuestion[] = "Прибор не отвечает. Проверьте кабель, порт и адрес прибора. Продолжать попытки?";

// The meter's emulator block: delay 0 and the emulation bits clear in both groups.
::testing::AssertionResult EmulationOff(const MainRig& rig)
{
    const uint16_t emu = rig.image->RamPointer(8);
    for (uint16_t group : {0, 4}) {
        const uint8_t delay = rig.image->ram.U8(emu + group), bits = rig.image->ram.U8(emu + group + 1) & 0x60;
        if (delay != 0 || bits != 0)
            return ::testing::AssertionFailure() << "group " << group << ": delay " << int(delay) << ", bits "
                                                 << std::hex << int(bits);
    }
    return ::testing::AssertionSuccess();
}

bool EmulationOn(const MainRig& rig)
{
    return (rig.image->ram.U8(rig.image->RamPointer(8) + 1) & 0x60) == 0x60;
}

// The writes of the emulator block, in order.
std::vector<Bytes> BlockWrites(const MainRig& rig)
{
    std::vector<Bytes> out;
    for (const SentRequest& s : rig.Requests(kWriteRam))
        if (s.Address16() == rig.image->RamPointer(8)) out.push_back(s.params);
    return out;
}

// Nothing more goes to the line once the run has ended.
void ExpectQuietLine(MainRig& rig)
{
    const size_t writes = rig.line.Writes().size();
    rig.loop.RunFor(30'000);
    EXPECT_EQ(rig.line.Writes().size(), writes);
}

struct StopCase {
    const char* name;
    std::function<bool(const MainRig&)> reached;
    const char* phase;
    bool emulationWasOn;
};

TEST(RunStop, StopButtonInEveryPhaseSwitchesTheEmulationOffAndSaysWhere)
{
    CommaSeparator comma;
    MainRig reference;
    ASSERT_TRUE(reference.Verify(false, false));
    const std::vector<Bytes> referenceWrites = BlockWrites(reference);
    ASSERT_EQ(referenceWrites.size(), 2u + 12u);  // switched on, a delay each for 0..11, switched off

    const StopCase cases[] = {
        {"zero", [](const MainRig& r) { return r.ctl.Fields().RunState == 0 && r.ctl.Fields().SampleCount == 5; },
         "Проверка нуля", false},
        {"nominal", [](const MainRig& r) { return r.ctl.Fields().RunState == 4 && r.ctl.Fields().SampleCount == 5; },
         "Номинальный расход", true},
        {"sweep", [](const MainRig& r) { return r.ctl.Fields().SweepDelay == 5; }, "Развертка задержек 6 из 12",
         true},
        {"points", [](const MainRig& r) { return r.ctl.Stage() == msPoints && r.ctl.Fields().PointIndex == 1; },
         "Точка 2 из 4", false},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        MainRig rig;
        ASSERT_TRUE(rig.ConnectToReady());
        EXPECT_FALSE(rig.ctl.View().ButtonStopEnabled);
        rig.ctl.Button1Click();
        ASSERT_TRUE(rig.RunUntil([&] { return c.reached(rig); }));
        EXPECT_TRUE(rig.ctl.View().ButtonStopEnabled);
        EXPECT_EQ(EmulationOn(rig), c.emulationWasOn);
        const size_t blockWrites = BlockWrites(rig).size();

        rig.ctl.ButtonStopClick();
        ASSERT_TRUE(rig.RunToStage(msStopped, 10'000));
        EXPECT_TRUE(EmulationOff(rig));
        const std::string line = std::string("Поверка прервана: остановлена техником (") + c.phase + ").";
        EXPECT_EQ(rig.ctl.View().Memo1Lines.back(), line);
        EXPECT_EQ(rig.ctl.View().LStatusCaption, "Поверка прервана: остановлена техником.");
        EXPECT_FALSE(rig.ctl.View().ButtonStopEnabled);
        EXPECT_TRUE(rig.ctl.View().Button1Enabled);
        EXPECT_EQ(rig.prompter.Count("message"), 0);
        // A run that had switched the emulation on switches it off with the end of a run's own write.
        const std::vector<Bytes> writes = BlockWrites(rig);
        ASSERT_EQ(writes.size(), blockWrites + (c.emulationWasOn ? 1u : 0u));
        if (c.emulationWasOn) {
            EXPECT_EQ(writes.back(), referenceWrites.back());
        }
        ExpectQuietLine(rig);
        // The connection stays: a new run can start and complete.
        rig.ctl.Button1Click();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Stage() == msDone || rig.ctl.Stage() == msStopped; }));
        EXPECT_EQ(rig.ctl.Stage(), msDone) << rig.ctl.StopReason();
    }
}

// The meter does not answer the switch-off: it is sent again three times, then the run ends and the line says the
// emulation may still be on.
TEST(RunStop, SwitchOffTheMeterDoesNotTakeEndsAfterThreeRepetitions)
{
    CommaSeparator comma;
    MainRig rig;
    ASSERT_TRUE(rig.ConnectToReady());
    rig.ctl.Button1Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().SweepDelay == 2; }));
    rig.meter.Faults().dropAnswer = 1;
    rig.line.ClearLog();
    rig.ctl.ButtonStopClick();
    ASSERT_TRUE(rig.RunToStage(msStopped, 30'000));
    EXPECT_EQ(BlockWrites(rig).size(), 1u + 3u);
    EXPECT_EQ(rig.ctl.View().Memo1Lines.back(),
              "Поверка прервана: остановлена техником (Развертка задержек 3 из 12); режим эмуляции в приборе не "
              "выключен.");
    // The meter took the write all the same; it only could not say so.
    EXPECT_TRUE(EmulationOff(rig));
    ExpectQuietLine(rig);
}

TEST(RunStop, DisconnectInTheNominalMeasurementSwitchesTheEmulationOffFirst)
{
    CommaSeparator comma;
    MainRig rig;
    ASSERT_TRUE(rig.ConnectToReady());
    rig.ctl.Button1Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().RunState == 4 && rig.ctl.Fields().SampleCount == 3; }));
    ASSERT_TRUE(EmulationOn(rig));
    rig.Disconnect();
    // The port stays open for the switch-off and goes after it.
    EXPECT_TRUE(rig.line.GetOpen());
    ASSERT_TRUE(rig.RunToStage(msIdle, 10'000));
    EXPECT_FALSE(rig.line.GetOpen());
    EXPECT_TRUE(EmulationOff(rig));
    EXPECT_EQ(rig.ctl.View().Memo1Lines.back(), "Поверка прервана: соединение разорвано (Номинальный расход).");
    ExpectQuietLine(rig);
}

// Every position of the bar within a run, from "Поверка" to the last line.
std::vector<int> RunProgress(MainRig& rig, bool reverse)
{
    std::vector<int> positions;
    rig.ctl.SetChB_backChecked(reverse);
    rig.ctl.OnViewChanged = [&](TViewChange change) {
        if (change == vcProgress) positions.push_back(rig.ctl.View().ProgressBar3Position);
    };
    rig.ctl.Button1Click();
    EXPECT_TRUE(rig.RunUntil([&] { return rig.ctl.Stage() == msDone || rig.ctl.Stage() == msStopped; }));
    EXPECT_EQ(rig.ctl.Stage(), msDone) << rig.ctl.StopReason();
    rig.ctl.OnViewChanged = nullptr;
    return positions;
}

TEST(RunProgress, ReachesItsEndExactlyOnceAndNeverGoesBack)
{
    CommaSeparator comma;
    MainRig rig;
    ASSERT_TRUE(rig.ConnectToReady());
    for (bool reverse : {false, true}) {
        SCOPED_TRACE(reverse ? "reverse" : "forward");
        const std::vector<int> p = RunProgress(rig, reverse);
        ASSERT_GE(p.size(), 50u);  // the bar moves along the run, not in a few jumps
        EXPECT_LT(p.front(), 10);  // from the start, whatever the run before left
        for (size_t i = 1; i < p.size(); ++i) ASSERT_LE(p[i - 1], p[i]) << "at " << i;
        EXPECT_EQ(std::count(p.begin(), p.end(), 1000), 1);
        EXPECT_EQ(p.back(), 1000);
        EXPECT_EQ(rig.ctl.View().ProgressBar3Max, 1000);
        EXPECT_EQ(rig.ctl.View().LStatusCaption, "Поверка завершена.");
    }
}

TEST(RunProgress, StopLeavesTheBarWhereTheRunWas)
{
    CommaSeparator comma;
    MainRig rig;
    ASSERT_TRUE(rig.ConnectToReady());
    rig.ctl.Button1Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().SweepDelay == 3; }));
    const int at = rig.ctl.View().ProgressBar3Position;
    EXPECT_GT(at, 0);
    EXPECT_LT(at, 1000);
    rig.ctl.ButtonStopClick();
    ASSERT_TRUE(rig.RunToStage(msStopped, 10'000));
    EXPECT_GE(rig.ctl.View().ProgressBar3Position, at);
    EXPECT_LT(rig.ctl.View().ProgressBar3Position, 1000);
}

// A meter that stops answering in the sweep: asked about 10 s after its last answer; Yes goes on and asks again 30 s
// later; No stops the run as "Стоп" does.
TEST(SilentMeter, AskedAfterTenSecondsAgainAfterThirtyAndNoStopsTheRun)
{
    CommaSeparator comma;
    MainRig rig;
    ASSERT_TRUE(rig.ConnectToReady());
    rig.ctl.Button1Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().SweepDelay == 3; }));
    rig.meter.Faults().dropAnswer = 1;
    std::vector<uint64_t> asked;
    rig.prompter.answers = {true, false};
    rig.prompter.onQuestion = [&](bool) { asked.push_back(rig.loop.NowMs()); };
    ASSERT_TRUE(rig.RunToStage(msStopped, 120'000));

    const int64_t lastAnswer = rig.ctl.Net_6x6().GetStatistics().LastAnswerMs;
    ASSERT_GE(lastAnswer, 0);
    const auto questions = rig.prompter.Of("question");
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[0].text, kSilentQuestion);
    EXPECT_EQ(questions[0].caption, "Внимание.");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NEAR(static_cast<double>(asked[0]), static_cast<double>(lastAnswer) + 10'000, 50);
    EXPECT_NEAR(static_cast<double>(asked[1] - asked[0]), 30'000, 50);
    // Until the question the engine kept repeating, as it always does, and said so.
    EXPECT_NE(std::find(rig.statuses.begin(), rig.statuses.end(), "Переповторы 6"), rig.statuses.end());

    EXPECT_EQ(rig.ctl.View().Memo1Lines.back(),
              "Поверка прервана: прибор не отвечает (Развертка задержек 4 из 12); режим эмуляции в приборе не "
              "выключен.");
    EXPECT_EQ(rig.ctl.View().LStatusCaption, "Поверка прервана: прибор не отвечает.");
    EXPECT_TRUE(rig.ctl.MeterSilent());
    // The switch-off write reached the meter; only its answer was lost.
    EXPECT_TRUE(EmulationOff(rig));
    ExpectQuietLine(rig);
}

// --- The unsaved protocol

TEST(UnsavedProtocol, ClosingAsksAndNoLetsTheWindowCloseWithNothingElseLost)
{
    CommaSeparator comma;
    MainRig rig;
    ASSERT_TRUE(rig.Verify(false, false));
    const std::vector<std::string> lines = rig.ctl.View().Memo1Lines;

    // Cancel keeps the window and everything in it; the question comes again on the next close.
    rig.prompter.answers3 = {anCancel, anNo};
    EXPECT_FALSE(rig.ctl.CloseQuery());
    ASSERT_EQ(rig.prompter.Count("question3"), 1);
    EXPECT_EQ(rig.prompter.Of("question3")[0].text, "Сохранить протокол?");
    EXPECT_EQ(rig.prompter.Of("question3")[0].caption, "Внимание.");
    EXPECT_EQ(rig.ctl.View().Memo1Lines, lines);
    EXPECT_TRUE(rig.line.GetOpen());

    // No: the window may close; nothing is saved, and the protocol and the connection are as they were.
    EXPECT_TRUE(rig.ctl.CloseQuery());
    EXPECT_EQ(rig.prompter.Count("question3"), 2);
    EXPECT_EQ(rig.prompter.Count("save"), 0);
    EXPECT_EQ(rig.ctl.View().Memo1Lines, lines);
    EXPECT_EQ(rig.ctl.Stage(), msDone);
    // Asked once: the close that follows does not ask again.
    EXPECT_TRUE(rig.ctl.CloseQuery());
    EXPECT_EQ(rig.prompter.Count("question3"), 2);
}

TEST(UnsavedProtocol, YesSavesFirstAndASavedProtocolIsNotAskedAbout)
{
    CommaSeparator comma;
    const std::string path = ::testing::TempDir() + "/rivanta-unsaved-" + std::to_string(::getpid()) + ".TXT";
    MainRig rig;
    ASSERT_TRUE(rig.Verify(false, false));
    rig.prompter.savePath = path;
    rig.prompter.answers3 = {anYes};
    EXPECT_TRUE(rig.ctl.CloseQuery());
    ASSERT_EQ(rig.prompter.Count("save"), 1);
    EXPECT_EQ(rig.prompter.Of("save")[0].caption.rfind("21345_FS-25S_", 0), 0u);
    std::string expected;
    for (const std::string& l : rig.ctl.View().Memo1Lines) expected += ToCp1251(l) + "\r\n";
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string saved(expected.size() + 16, '\0');
    saved.resize(std::fread(saved.data(), 1, saved.size(), f));
    std::fclose(f);
    std::remove(path.c_str());
    EXPECT_EQ(saved, expected);

    MainRig again;
    ASSERT_TRUE(again.Verify(false, false));
    again.prompter.savePath = path;
    again.ctl.SpeedButton1Click();
    std::remove(path.c_str());
    EXPECT_TRUE(again.ctl.CloseQuery());
    EXPECT_EQ(again.prompter.Count("question3"), 0);
}

// Closing during a run stops it first (the emulation switched off, the interruption line in the protocol), then
// asks about the protocol; the window closes after the answer.
TEST(UnsavedProtocol, ClosingDuringARunStopsItThenAsks)
{
    CommaSeparator comma;
    MainRig rig;
    ASSERT_TRUE(rig.ConnectToReady());
    rig.ctl.Button1Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().SweepDelay == 2; }));
    EXPECT_FALSE(rig.ctl.CloseQuery());
    EXPECT_EQ(rig.prompter.Count("question3"), 0);
    ASSERT_TRUE(rig.RunUntil([&] { return rig.closed; }, 10'000));
    EXPECT_TRUE(EmulationOff(rig));
    EXPECT_EQ(rig.ctl.View().Memo1Lines.back(), "Поверка прервана: окно закрыто (Развертка задержек 3 из 12).");
    EXPECT_EQ(rig.prompter.Count("question3"), 1);
    EXPECT_TRUE(rig.ctl.CloseQuery());
}

// A new connection asks about what the last one left; Cancel keeps it and stays disconnected.
TEST(UnsavedProtocol, NewConnectionAsksBeforeTheMemoIsCleared)
{
    CommaSeparator comma;
    MainRig rig;
    ASSERT_TRUE(rig.Verify(false, false));
    const std::vector<std::string> lines = rig.ctl.View().Memo1Lines;
    rig.Disconnect();
    ASSERT_TRUE(rig.RunToStage(msIdle));
    rig.prompter.answers3 = {anCancel};
    rig.Connect();
    EXPECT_FALSE(rig.ctl.View().SBOpenCloseDown);
    EXPECT_FALSE(rig.line.GetOpen());
    EXPECT_EQ(rig.ctl.View().Memo1Lines, lines);

    rig.prompter.answers3 = {anNo};
    ASSERT_TRUE(rig.ConnectToReady());
    EXPECT_EQ(rig.prompter.Count("question3"), 2);
    // The memo holds the new header only; the required flows and the bar start afresh.
    EXPECT_LT(rig.ctl.View().Memo1Lines.size(), lines.size());
    EXPECT_EQ(rig.ctl.View().Memo1Lines.front(), lines.front());
    EXPECT_EQ(rig.ctl.View().ProgressBar3Position, 0);
}

// The program ends after a refused emulator check; what the memo holds is offered for saving first (a plain Yes/No:
// the end is not the technician's to cancel).
TEST(UnsavedProtocol, ProgramEndAfterARefusalAsksFirst)
{
    sim::MeterDescription d = sim::DefaultDescription();
    d.emulatorMode = false;
    MainRig rig(d);
    rig.Connect();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.closed; }));
    const auto questions = rig.prompter.Of("question");
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[0].text, "Для проверки войдите в режим имитатора.");
    EXPECT_EQ(questions[1].text, "Сохранить протокол?");
    EXPECT_EQ(rig.prompter.Count("question3"), 0);
    EXPECT_EQ(rig.ctl.Stage(), msClosing);
}

}  // namespace
}  // namespace rv::test
