// The measuring run of the verification page and its test points: the emulator check, the required flows, the
// zero and nominal measurements, the largest delay, the delay sweep forward and, when asked, reverse, and for each
// required flow the set and measured flows with the result lines of the protocol. The main window's controller
// owns one over its connection and page; it knows nothing of widgets.
//
// Threading: loop thread only. No exception leaves a handler: one that escapes is shown through the prompter.
#pragma once

#include "app/verify/MainFields.h"
#include "app/verify/TMainPage.h"
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
class TEmulatorCheck;
class TFlowMath;
class TMeterConnection;
class TObject;
class TRurIvaQs_6x6;
class TTimer;
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
    bool UnderWay() const { return course_.UnderWay; }
    // The run is switching the emulation off before it ends.
    bool Stopping() const { return course_.Stopping; }
    // Ends the run under way for reason: an emulation the run switched on is switched off first (the end-of-run
    // write, three repetitions at most, while the line is open); the protocol gets its interruption line,
    // the page stops with the reason (in a box too with showBox), then follows (at once with no run under way).
    void Interrupt(const std::string& reason, std::function<void()> then = {}, bool showBox = false);
    // The engine repeats its request; the controller passes its connection's repetitions on.
    void Repetition(int n);
    // Fills the required-flow fields for the chosen sensor, as the run will (without a message for an unknown size).
    void PreviewRequiredFlows();

    // The program is to end with this reason (the emulator refused, a sensor error).
    Event<void(const std::string& reason)> OnClose;
    // For the run's record: started, a point printed (the page's last RunPoint), ended (else stopped).
    Event<void()> OnStarted;
    Event<void()> OnPoint;
    Event<void(bool completed)> OnEnded;

    const SRunFields& Run() const { return run_; }
    const SPointFields& Points() const { return points_; }
    // Null until the first run.
    const TFlowMath* FlowMath() const { return flowMath_.get(); }
    // Test points of the last series that could not be set (reported in the protocol and skipped).
    int SkippedPoints() const { return points_.Skipped; }

private:
    // The course of the run, its stop and its end (TVerificationRunCourse.cpp).
    void EnterPhase(SRunCourse::TPhase phase);
    std::string PhaseText() const;
    // Work expected to take ms is done: the bar and the status line follow.
    void Advance(double ms);
    void TimerSwitchOffTimer(TObject* Sender);  // the switch-off, once the line has settled
    void SwitchOffAnswer(short Length, unsigned char* Buffer);
    void EndInterrupt(bool emulationLeftOn);
    // The run ends short with a message the technician is shown: the interruption line follows.
    void Fail(const std::string& message);
    void Complete();  // the last result line is out
    void Confirmed(const SPointerRAM& pointers);
    void Refused();
    void StopTimers();
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
    void AddPoint(SRunPoint point);
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
    std::unique_ptr<TEmulatorCheck> check_;
    std::unique_ptr<TTimer> TimerWork, TransTimer, TimerShow, TimerCalcCharge, TimerSwitchOff;

    SRunFields run_;
    SPointFields points_;
    SRunCourse course_;
};

}  // namespace rv
