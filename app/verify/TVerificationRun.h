// The measuring run of the verification page and its test points: the emulator check, the required flows, the
// zero and nominal measurements, the largest delay, the delay sweep forward and, when asked, reverse, and for each
// required flow the set and measured flows with the result lines of the protocol. The main window's controller
// owns one over its connection and page; it knows nothing of widgets.
//
// Threading: loop thread only. No exception leaves a handler: one that escapes is shown through the prompter.
#pragma once

#include "app/verify/MainFields.h"
#include "app/window/Guarded.h"
#include "core/Event.h"

#include <exception>
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

    // The program is to end with this reason (the emulator refused, a sensor error).
    Event<void(const std::string& reason)> OnClose;

    const SRunFields& Run() const { return run_; }
    const SPointFields& Points() const { return points_; }
    // Null until the first run.
    const TFlowMath* FlowMath() const { return flowMath_.get(); }
    // Test points of the last series that could not be set (reported in the protocol and skipped).
    int SkippedPoints() const { return skippedPoints_; }

private:
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
    const SConnectionFields& sensor_;
    std::unique_ptr<TFlowMath> flowMath_;
    std::unique_ptr<TTimer> TimerEmitator;
    std::unique_ptr<TTimer> TimerWork;
    std::unique_ptr<TTimer> TransTimer;
    std::unique_ptr<TTimer> TimerShow;
    std::unique_ptr<TTimer> TimerCalcCharge;

    SRunFields run_;
    SPointFields points_;
    int skippedPoints_ = 0;
    bool pointValid_ = false;    // the point being evaluated was set, so its results follow
    bool reverseSwept_ = false;  // this run swept the reverse direction too
    bool emulatorOn_ = false;    // a run switched the meter's emulator on and has not switched it off yet
};

}  // namespace rv
