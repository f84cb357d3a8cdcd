// The course of a verification run as the technician follows it: its phases, the overall progress and the time
// left in the status line, the stop that switches the meter's emulation off before the run ends short, and the
// end of a complete run.
#include "app/verify/TVerificationRun.h"

#include "app/verify/FlowTables.h"
#include "app/verify/TMainPage.h"
#include "app/window/IPrompter.h"
#include "app/window/TMeterConnection.h"
#include "core/IDeviceLink.h"
#include "core/Loop.h"
#include "core/TTimer.h"
#include "meter/TRurIvaQs_6x6.h"

#include <cmath>

namespace rv {

namespace {

constexpr uint8_t kAckDone = 0xFF;
// Repetitions of the switch-off before a stop gives it up.
constexpr int kSwitchOffTries = 3;

// A reason as one clause of a line: its line breaks folded, no closing full stop.
std::string Clause(std::string text)
{
    for (char& c : text)
        if (c == '\n') c = ' ';
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

// --- Phases and progress

void TVerificationRun::EnterPhase(SRunCourse::TPhase phase)
{
    course_.Phase = phase;
    Advance(0.0);
}

std::string TVerificationRun::PhaseText() const
{
    const std::string reverse = run_.ReverseActive ? "Обратный поток: " : "";
    switch (course_.Phase) {
        case SRunCourse::phIdle:
            break;
        case SRunCourse::phEmulatorCheck:
            return "Проверка режима имитатора";
        case SRunCourse::phZero:
            return "Проверка нуля";
        case SRunCourse::phNominal:
            return "Номинальный расход";
        case SRunCourse::phSweep:
            return reverse + (reverse.empty() ? "Развертка задержек " : "развертка задержек ") +
                   std::to_string(std::min(run_.SweepDelay, run_.Mmax) + 1) + " из " + std::to_string(run_.Mmax + 1);
        case SRunCourse::phPoints:
            return reverse + (reverse.empty() ? "Точка " : "точка ") +
                   std::to_string(std::min(points_.PointIndex + 1, run_.PointCount)) + " из " +
                   std::to_string(run_.PointCount);
    }
    return "Поверка";
}

void TVerificationRun::Advance(double ms)
{
    if (!course_.UnderWay || course_.Stopping) return;
    course_.Progress.Advance(ms);
    const int position = static_cast<int>(std::lround(course_.Progress.Fraction() * 1000.0));
    const SMainView& view = page_.View();
    if (position != view.ProgressBar3Position || view.ProgressBar3Max != 1000) page_.SetProgress(0, 1000, position);
    page_.SetRunStatus(PhaseText(), TRunProgress::RemainingText(course_.Progress.RemainingMs(loop_.NowMs())));
}

void TVerificationRun::Complete()
{
    course_.Progress.Finish();
    course_.UnderWay = false;
    course_.Phase = SRunCourse::phIdle;
    page_.SetProgress(0, 1000, 1000);
    page_.View().ButtonStopEnabled = false;
    page_.View().RunPhase.clear();
    page_.Notify(vcPhase);
    page_.SetStatus("Поверка завершена.");
    OnEnded(true);
}

// --- Stop

void TVerificationRun::Interrupt(const std::string& reason, std::function<void()> then, bool showBox)
{
    if (course_.Stopping) {
        // Stopped twice (the button, then the window closed): both follow once the emulation is off.
        if (then) {
            std::function<void()> first = std::move(course_.AfterStop);
            course_.AfterStop = [first, then] {
                if (first) first();
                then();
            };
        }
        return;
    }
    if (!course_.UnderWay) {
        if (then) then();
        return;
    }
    course_.Stopping = true;
    course_.StopReason = reason;
    course_.ShowStopBox = showBox;
    course_.AfterStop = std::move(then);
    AbandonMeasurement();
    if (run_.EmulatorOn && connection_.Link().GetOpen()) {
        course_.SwitchOffRepetitions = 0;
        page_.SetStatus("Остановка поверки: выключение режима эмуляции.");
        // The answer of the request just abandoned may still be on the line: sent at once, the switch-off would
        // take its late bytes for its own echo and acknowledge. They come in (and are thrown away) first.
        TimerSwitchOff->SetInterval(static_cast<uint32_t>(std::ceil(course_.Line.Last())));
        TimerSwitchOff->Start();
        return;
    }
    EndInterrupt(run_.EmulatorOn);
}

void TVerificationRun::TimerSwitchOffTimer(TObject*)
{
    Guarded([&] {
        TimerSwitchOff->Stop();
        if (!course_.Stopping) return;
        if (!connection_.Link().GetOpen()) {
            EndInterrupt(true);
            return;
        }
        Net().OnReceiveExecuted = Bind(this, &TVerificationRun::SwitchOffAnswer);
        EmulationOff();
    });
}

void TVerificationRun::Fail(const std::string& message)
{
    Interrupt(message, {}, true);
}

void TVerificationRun::Repetition(int)
{
    // The engine tells of a repetition before it sends it: the switch-off ends after its kSwitchOffTries-th
    // repetition has gone unanswered too.
    if (!course_.Stopping || ++course_.SwitchOffRepetitions <= kSwitchOffTries) return;
    // The meter does not take the switch-off: the run ends without it rather than waiting on.
    Net().BreakTransmit();
    Net().AbandonRequest();
    EndInterrupt(true);
}

void TVerificationRun::SwitchOffAnswer(short Length, unsigned char* Buffer)
{
    Guarded([&] {
        if (!course_.Stopping) return;
        const bool off = Buffer && Length >= 1 && Buffer[0] == kAckDone;
        if (off) {
            run_.EmulatorOn = false;
            EndInterrupt(false);
            return;
        }
        // Not taken (or a byte that was not its answer): sent again, as the sweep sends a write again.
        if (++course_.SwitchOffRepetitions <= kSwitchOffTries) {
            IgnoreAnswers();
            TimerSwitchOff->Start();
            return;
        }
        EndInterrupt(true);
    });
}

void TVerificationRun::EndInterrupt(bool emulationLeftOn)
{
    TimerSwitchOff->Stop();
    IgnoreAnswers();
    course_.Stopping = false;
    course_.UnderWay = false;
    run_.RunRequested = false;
    const std::string reason = Clause(course_.StopReason);
    std::string line = "Поверка прервана: " + reason + " (" + PhaseText() + ")";
    if (emulationLeftOn) line += "; режим эмуляции в приборе не выключен";
    course_.Phase = SRunCourse::phIdle;
    page_.View().ButtonStopEnabled = false;
    page_.View().RunPhase.clear();
    page_.Notify(vcControls);
    page_.Notify(vcPhase);
    page_.AddLine(line + ".");
    page_.SetStatus("Поверка прервана: " + reason + ".");
    if (course_.ShowStopBox) prompter_.Message(course_.StopReason, "Ошибка");
    page_.Stopped(course_.StopReason);
    OnEnded(false);
    std::function<void()> then = std::move(course_.AfterStop);
    course_.AfterStop = nullptr;
    if (then) then();
}

// --- Required flows before a run

void TVerificationRun::PreviewRequiredFlows()
{
    run_.NominalMax = ChosenSensor().NominalMax;
    run_.SizeIndex = SizeIndexOf(run_.NominalMax);
    run_.Paths = sensor_.PathsPerSensor;
    FillRequiredFlows();
}

}  // namespace rv
