// The main window without its widgets: the connection with the meter and the read chain of its records, the
// configuration readout with the protocol header, the verification run (emulator check, zero and nominal
// measurement, delay sweep) and the test points with their result lines. It holds the view state the
// widgets bind to and tells the view when that changes; the GUI, the headless runner and the tests drive it.
//
// Threading: every operation, handler and notification runs on the loop thread. No exception leaves a
// handler: one that escapes is shown through the prompter and the program goes on.
#pragma once

#include "app/window/Guarded.h"
#include "app/window/IPrompter.h"
#include "app/window/MeterImages.h"
#include "app/verify/TFlowMath.h"
#include "app/window/TWindowPort.h"
#include "core/Event.h"
#include "core/Trace.h"
#include "meter/MeterRecords.h"

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace rv {

class IDeviceLink;
class Loop;
class TConfigReadChain;
class TObject;
class TRurIvaQs_6x6;
class TTimer;

// Where the window stands, for the view and for the headless runner.
enum TMainStage {
    msIdle,           // port closed
    msIdentifying,    // identity request sent
    msReading,        // read chain of the configuration and sensor records
    msChoosing,       // sensor dialog and protocol header
    msEmulatorCheck,  // pointer table and flag bytes asked
    msReady,          // emulator mode seen; "Поверка" enabled
    msMeasuring,      // required flows, zero check, nominal measurement
    msSweeping,       // delay sweep, forward and reverse
    msPoints,         // test point series
    msDone,           // the protocol is complete
    msStopped,        // the step ended short; StopReason() says why
    msClosing,        // the program ends (TimerClose)
};

// What changed in the view state.
enum TViewChange {
    vcStatus,       // LStatusCaption
    vcMemoCleared,  // Memo1Lines emptied
    vcMemoAdded,    // one line appended to Memo1Lines (its last line)
    vcProgress,     // ProgressBar3Min/Max/Position
    vcControls,     // enabled, checked, down, visible states, the port name, the active page
    vcEdits,        // EditDigitalText
    vcStage,        // Stage(), StopReason()
    vcClose,        // the main window is to close, which ends the program
};

// The state of the main window's controls. Named after the controls they bind to.
struct SMainView {
    std::string LStatusCaption = "ОК";  // Cyrillic letters at start
    std::vector<std::string> Memo1Lines;
    int ProgressBar3Min = 0;
    int ProgressBar3Max = 100;
    int ProgressBar3Position = 0;
    std::string CBPortNameText = "COM1";
    bool CBPortNameEnabled = true;
    bool SBOpenCloseDown = false;
    bool Button1Enabled = false;
    bool ChB_backEnabled = false;
    bool ChB_backChecked = false;
    bool ChBDopInfoChecked = false;
    // EditDigital8 … EditDigital12: the required flows of the run, as typed or as filled by the run.
    std::array<std::string, 5> EditDigitalText = {"0", "0", "0", "0", "0"};
    bool TabSheet1Visible = true;
    bool TabSheet1Enabled = true;
    bool TabSheet2Visible = true;
    bool TabSheet2Enabled = true;
    int ActivePage = 0;  // 0 TabSheet1, 1 TabSheet2
};

// The fields of the window that the steps keep, named as the window names them.
struct SMainFields {
    // Connection and readout
    uint32_t MeterSerial = 0;
    int SelectedSensor = 0;
    bool RunRequested = false;
    bool EmulatorConfirmed = false;
    int PathsPerSensor = 1;
    int ModuleNumber = 0;
    int TableSet = 0;
    uint8_t ChannelMask = 0;
    float KfsValue = 0.0f;
    // Verification run
    int SizeIndex = 0;
    float NominalMax = 0.0f;
    int Paths = 1;
    int PointCount = 0;
    SPointerRAM RamPointers;
    int RunState = -1;  // -1: no measurement chain under way; 6, 7: switching off an emulator left on
    int SampleCount = 0;
    float ZeroFlowSum = 0.0f;
    float NominalSum = 0.0f;
    int Mmax = 0;
    int SweepPhase = 0;
    int NextPhase = 0;
    int SweepDelay = 0;
    int SweepCount = 0;
    float SweepSample = 0.0f;
    int DelayCode = 0;
    TDelayTable FwdFlows{};
    TDelayTable RevFlows{};
    bool ReverseActive = false;
    std::array<uint8_t, 8> EmuBlock{};
    // Test points
    int PointIndex = 0;
    float SetFlow = 0.0f;
    float MeasuredFlow = 0.0f;
    float AllowedErr = 0.0f;
    TDelayTable Correction{};
};

class TFMainController {
public:
    static constexpr int kRequiredFlowFields = 5;

    // The link is the window's device link (not owned; it must outlive the controller). Timers and the
    // meter command set run on loop (the current loop when null).
    TFMainController(IDeviceLink& link, IPrompter& prompter, Loop* loop = nullptr);
    // Abandons any request under way and closes the port if this window opened it.
    ~TFMainController();
    TFMainController(const TFMainController&) = delete;
    TFMainController& operator=(const TFMainController&) = delete;

    // --- View
    const SMainView& View() const { return view_; }
    TMainStage Stage() const { return stage_; }
    // Why the last step ended short (the message the technician was shown); empty otherwise.
    const std::string& StopReason() const { return stopReason_; }
    // Test points of the last series that could not be set (reported in the protocol and skipped).
    int SkippedPoints() const { return skippedPoints_; }
    // Raised after every change the controller makes to the view state (not for the Set… inputs below).
    Event<void(TViewChange change)> OnViewChanged;

    // --- Inputs from the widgets: the technician changed a control. No notification follows.
    void SetCBPortNameText(const std::string& text) { view_.CBPortNameText = text; }
    void SetSBOpenCloseDown(bool down) { view_.SBOpenCloseDown = down; }
    void SetChBDopInfoChecked(bool checked) { view_.ChBDopInfoChecked = checked; }
    void SetChB_backChecked(bool checked) { view_.ChB_backChecked = checked; }
    // k = 0..4 for EditDigital8..EditDigital12; other k are ignored.
    void SetEditDigitalText(int k, const std::string& text);
    void SetActivePage(int page) { view_.ActivePage = page; }
    // The KFS page's connect and disconnect switch the pages too; they notify like the controller's own.
    void SetTabSheet1(bool visible, bool enabled);
    void SetTabSheet2(bool visible, bool enabled);
    // The status line is the window's: the KFS page's window shows its steps there too. Notifies vcStatus.
    void SetLStatusCaption(const std::string& text) { SetStatus(text); }

    // --- Handlers bound to the controls
    // Connect or disconnect, by SBOpenCloseDown (set it first, as a toggle button does before its click).
    void SBOpenCloseClick();
    // "Поверка"
    void Button1Click();
    // Saves the protocol through the save dialog: code page 1251, CR LF after every line, whole or not at all.
    void SpeedButton1Click();

    // --- Handlers of the meter command set and of the window's timers (bound by the controller itself;
    // public so that a test can drive one step).
    void Net_6x6ReceivedIDDevice(const SIDDevice* IDDevice);
    void Net_6x6ReceiveExecuted(short Length, unsigned char* Buffer);
    void Net_6x6Repetition(int Repetition);
    void LastDataTimer(TObject* Sender);
    void TimerEmitatorTimer(TObject* Sender);
    void Net_6x6PointerRAM(const SPointerRAM* PointerRAM);
    void Net_6x6FB6x6(const S6x6FlagsByte* pFB6x6);
    void TimerWorkTimer(TObject* Sender);
    void RunAnswer(short Length, unsigned char* Buffer);
    void Net_6x6Last(const SLastMeasure* Last);
    void SweepTick(TObject* Sender);
    void SweepAnswer(short Length, unsigned char* Buffer);
    void EndAnswer(short Length, unsigned char* Buffer);
    void TimerCalcChargeTimer(TObject* Sender);
    void TimerShowTimer(TObject* Sender);
    void IgnoreAnswer(short Length, unsigned char* Buffer);
    void TimerCloseTimer(TObject* Sender);
    // The link refused a frame. While the port stays open the engine retries; a port that has closed under
    // the window (an adapter unplugged) ends the connection with a message.
    void Net_6x6TransmitError(const std::exception& Error);

    // --- What the steps keep
    const SMainFields& Fields() const { return f_; }
    int ReadStep() const;
    int SensorCounter() const;
    const TConfigImage& ConfigImage() const;
    const TSensorImages& SensorImage() const;
    // Null until the first press of "Поверка".
    const TFlowMath* FlowMath() const { return flowMath_.get(); }
    TRurIvaQs_6x6& Net_6x6() { return *net_; }
    IDeviceLink& NewDevCom1() { return link_; }
    // The allowed error of a flow for the chosen sensor's class, size and paths.
    float AllowedError(float q) const;

    // The engine's line trace (frames, echo, answers, time-outs, repetitions, wake-ups); empty for none.
    void SetTraceHook(TraceHook hook);

private:
    // Steps run from the handlers above.
    void Connect();
    void Disconnect();
    // Stops every window timer and the request under way and forgets the run: nothing of an earlier
    // connection or run fires afterwards.
    void AbandonRun();
    void BuildHeader(const SSensorRecord& sensor);
    void AddKfsLines(const SSensorRecord& sensor);
    void FillRequiredFlows();
    void LargestDelay();
    void SweepStep();
    void SweepEnd();
    // Writes the emulator block back with both groups at delay 0 and emulation off.
    void EmulationOff();
    // Stops whatever the measurement chain has under way (a new press of "Поверка").
    void AbandonMeasurement();
    void SendSweepPhase();
    void StartPointSeries();
    void EvaluatePoint(int k);
    void ComputeCorrection();
    void FinishSeries();
    // Ends the point series at a required-flow field that holds no number.
    void StopSeries(const std::exception& error);
    std::string RelativeErrorText() const;
    SSensorRecord ChosenSensor() const;
    // A point that cannot be set is reported and the series goes on with the next point.
    void SkipPoint(int k, const std::string& reason);

    // The run's group of the emulator block: 0 for channels 0..2, 4 for channels 3..5.
    int EmuGroupOffset() const;
    const TDelayTable& SweepTable() const { return f_.ReverseActive ? f_.RevFlows : f_.FwdFlows; }
    TDelayTable& SweepTable() { return f_.ReverseActive ? f_.RevFlows : f_.FwdFlows; }
    // Reads required-flow field k as a number; throws EConversionError for a text that is none.
    float RequiredFlow(int k) const;

    // View changes, each followed by its notification.
    void SetStatus(const std::string& text);
    void ClearMemo();
    void AddLine(const std::string& line);
    void SetProgress(int min, int max, int position);
    void SetProgressPosition(int position);
    void ControlsChanged() { Notify(vcControls); }
    void SetStage(TMainStage stage);
    // Shows the message (caption "Ошибка") and ends the step: the stage becomes msStopped with it as reason.
    void Stop(const std::string& message);
    void Notify(TViewChange change) { OnViewChanged(change); }

    // Runs a handler body; an exception that escapes is shown by the prompter.
    template <class F>
    void Guarded(F&& body)
    {
        rv::Guarded(prompter_, body);
    }
    void BindHandlers();
    void Arm(TTimer& timer);
    void PortLost(const std::string& message);

    IDeviceLink& link_;
    IPrompter& prompter_;
    Loop& loop_;
    std::unique_ptr<TRurIvaQs_6x6> net_;
    TWindowPort port_;
    std::unique_ptr<TConfigReadChain> chain_;
    std::unique_ptr<TFlowMath> flowMath_;

    std::unique_ptr<TTimer> LastData;
    std::unique_ptr<TTimer> TimerEmitator;
    std::unique_ptr<TTimer> TimerWork;
    std::unique_ptr<TTimer> TransTimer;
    std::unique_ptr<TTimer> TimerShow;
    std::unique_ptr<TTimer> TimerClose;
    std::unique_ptr<TTimer> TimerCalcCharge;

    SMainView view_;
    SMainFields f_;
    TMainStage stage_ = msIdle;
    std::string stopReason_;
    bool readoutDone_ = false;  // this connection has printed its header; a run may start
    int skippedPoints_ = 0;
    bool pointValid_ = false;    // the point being evaluated was set, so its results follow
    bool reverseSwept_ = false;  // this run swept the reverse direction too
    bool emulatorOn_ = false;    // a run switched the meter's emulator on and has not switched it off yet
};

}  // namespace rv
