// The measuring run of the verification page and its test points: the emulator check, the required flows, the
// zero and nominal measurements, the largest delay, the delay sweep forward and, when asked, reverse, and for each
// required flow the set and measured flows with the result lines of the protocol. The main window's controller
// owns one over its connection and page; it knows nothing of widgets.
//
// Threading: loop thread only. No exception leaves a handler: one that escapes is shown through the prompter.
#pragma once

#include "app/verify/MainFields.h"
#include "app/verify/TRunProgress.h"
#include "app/window/Guarded.h"
#include "core/Event.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace rv {

class IPrompter;
class Loop;
class TFlowMath;
class TMainPage;
class TMeterConnection;
class TObject;
class TRurIvaQs_6x6;
class TTimer;
struct S6x6FlagsByte;
struct SLastMeasure;
struct SSensorRecord;

class TVerificationRun {
public:
    // The run works over the connection's meter command set, shows itself on page and reads what the readout
    // found in sensor; all of them are the controller's and outlive the run.
    TVerificationRun(TMeterConnection& connection, TMainPage& page, IPrompter& prompter, Loop& loop,
                     const SConnectionFields& sensor);
    ~TVerificationRun();
    TVerificationRun(const TVerificationRun&) = delete;
    TVerificationRun& operator=(const TVerificationRun&) = delete;

    // After the header: asks whether the meter is in its emulator mode, which enables "Поверка".
    void CheckEmulator();
    // "Поверка": the run starts with a new emulator check. The header must be out and the port open.
    void Start();
    // Stops every timer and request of the run and forgets it: nothing of it fires afterwards.
    void Abandon();
    // True from "Поверка" until the last result line, a stop or Abandon.
    bool UnderWay() const { return underWay_; }
    // The run is switching the emulation off before it ends.
    bool Stopping() const { return stopping_; }
    // Ends the run under way for reason. A run that switched the meter's emulation on switches it off first, with
    // the same write as the end of a run and at most kSwitchOffTries repetitions, when the line is open; then the
    // transmission is broken, the protocol gets its interruption line, the status line and the stage say why,
    // and then follows. With no run under way, then follows at once. showBox: the reason is shown in a box too.
    void Interrupt(const std::string& reason, std::function<void()> then = {}, bool showBox = false);
    // The engine repeats its request; the controller passes its connection's repetitions on.
    void Repetition(int n);
    // Fills the required-flow fields for the chosen sensor, as the run will (without a message for an unknown size).
    void PreviewRequiredFlows();
    static constexpr int kSwitchOffTries = 3;

    // The program is to end with this reason (the emulator refused, a sensor error).
    Event<void(const std::string& reason)> OnClose;

    const SRunFields& Run() const { return run_; }
    const SPointFields& Points() const { return points_; }
    // Null until the first run.
    const TFlowMath* FlowMath() const { return flowMath_.get(); }
    // Test points of the last series that could not be set (reported in the protocol and skipped).
    int SkippedPoints() const { return skippedPoints_; }

private:
    // The course of the run, its stop and its end (TVerificationRunCourse.cpp).
    enum TPhase { phIdle, phEmulatorCheck, phZero, phNominal, phSweep, phPoints };
    void EnterPhase(TPhase phase);
    std::string PhaseText() const;
    // Work expected to take ms is done: the bar and the status line follow.
    void Advance(double ms);
    // Sends the switch-off once the line has settled; its answer comes to SwitchOffAnswer.
    void TimerSwitchOffTimer(TObject* Sender);
    void SwitchOffAnswer(short Length, unsigned char* Buffer);
    void EndInterrupt(bool emulationLeftOn);
    // The run ends short with a message the technician is shown: the interruption line follows.
    void Fail(const std::string& message);
    // The last result line is out.
    void Complete();
    // Emulator check.
    void TimerEmitatorTimer(TObject* Sender);
    void Net_6x6PointerRAM(const SPointerRAM* PointerRAM);
    void Net_6x6FB6x6(const S6x6FlagsByte* pFB6x6);
    // Measurement chain.
    void TimerWorkTimer(TObject* Sender);
    void RunAnswer(short Length, unsigned char* Buffer);
    void Net_6x6Last(const SLastMeasure* Last);
    void FillRequiredFlows();
    void LargestDelay();
    void AbandonMeasurement();
    // Delay sweep.
    void SweepTick(TObject* Sender);
    void SweepAnswer(short Length, unsigned char* Buffer);
    void SendSweepPhase();
    void SweepStep();
    void SweepEnd();
    void EndAnswer(short Length, unsigned char* Buffer);
    // Writes the emulator block back with both groups at delay 0 and emulation off.
    void EmulationOff();
    // Test points.
    void TimerCalcChargeTimer(TObject* Sender);
    void TimerShowTimer(TObject* Sender);
    void StartPointSeries();
    void EvaluatePoint(int k);
    void ComputeCorrection();
    void FinishSeries();
    // Ends the point series at a required-flow field that holds no number.
    void StopSeries(const std::exception& error);
    // A point that cannot be set is reported and the series goes on with the next point.
    void SkipPoint(int k, const std::string& reason);
    std::string RelativeErrorText() const;
    // Reads required-flow field k as a number; throws EConversionError for a text that is none.
    float RequiredFlow(int k) const;

    TRurIvaQs_6x6& Net();
    SSensorRecord ChosenSensor() const;
    // The run's group of the emulator block: 0 for channels 0..2, 4 for channels 3..5.
    int EmuGroupOffset() const;
    const TDelayTable& SweepTable() const { return run_.ReverseActive ? run_.RevFlows : run_.FwdFlows; }
    TDelayTable& SweepTable() { return run_.ReverseActive ? run_.RevFlows : run_.FwdFlows; }
    void IgnoreAnswers();
    template <class F>
    void Guarded(F&& body)
    {
        rv::Guarded(prompter_, body);
    }

    TMeterConnection& connection_;
    TMainPage& page_;
    IPrompter& prompter_;
    Loop& loop_;
    const SConnectionFields& sensor_;
    std::unique_ptr<TFlowMath> flowMath_;
    std::unique_ptr<TTimer> TimerEmitator;
    std::unique_ptr<TTimer> TimerWork;
    std::unique_ptr<TTimer> TransTimer;
    std::unique_ptr<TTimer> TimerShow;
    std::unique_ptr<TTimer> TimerCalcCharge;
    std::unique_ptr<TTimer> TimerSwitchOff;

    SRunFields run_;
    SPointFields points_;
    TRunProgress progress_;
    SRunLine line_;
    TPhase phase_ = phIdle;
    bool underWay_ = false;
    bool stopping_ = false;
    bool showStopBox_ = false;
    int switchOffRepetitions_ = 0;
    std::string stopReason_;
    std::function<void()> afterStop_;
    int skippedPoints_ = 0;
    bool pointValid_ = false;    // the point being evaluated was set, so its results follow
    bool reverseSwept_ = false;  // this run swept the reverse direction too
    bool emulatorOn_ = false;    // a run switched the meter's emulator on and has not switched it off yet
};

}  // namespace rv
