// The main window without its widgets: the connection with the meter and the read chain of its records, the
// configuration readout with the protocol header, and the verification run it owns (emulator check, measurements,
// delay sweep, test points). It holds the view state the widgets bind to and tells the view when that changes;
// the GUI, the headless runner and the tests drive it.
//
// Threading: every operation, handler and notification runs on the loop thread. No exception leaves a
// handler: one that escapes is shown through the prompter and the program goes on.
#pragma once

#include "app/verify/MainFields.h"
#include "app/verify/TMainPage.h"
#include "app/window/IMainFrame.h"
#include "app/window/MeterImages.h"
#include "app/window/TMeterConnection.h"
#include "core/Event.h"
#include "core/Trace.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rv {

class IDeviceLink;
class IPrompter;
class Loop;
class TFlowMath;
class TObject;
class TRurIvaQs_6x6;
class TTimer;
class TVerificationRun;

class TFMainController : public IMainFrame {
public:
    static constexpr int kRequiredFlowFields = rv::kRequiredFlowFields;

    // The link is the window's device link (not owned; it must outlive the controller). Timers and the
    // meter command set run on loop (the current loop when null).
    TFMainController(IDeviceLink& link, IPrompter& prompter, Loop* loop = nullptr);
    // Abandons any request under way and closes the port if this window opened it.
    ~TFMainController();
    TFMainController(const TFMainController&) = delete;
    TFMainController& operator=(const TFMainController&) = delete;

    // Raised after every change the controller makes to the view state (not for the Set… inputs below).
    Event<void(TViewChange change)> OnViewChanged;
    // The course of each run for its record: started, a point printed (the last of View().RunPoints), ended.
    enum TRunEvent { reStarted, rePoint, reEnded };
    Event<void(TRunEvent event)> OnRunEvent;
    // The run that ended last completed its last point (else it stopped, StopReason() says why).
    bool RunCompleted() const { return w_.RunCompleted; }
    // The lines of the protocol of the run under way or the last one: its header and what followed.
    std::vector<std::string> RunProtocol() const;
    // The port name the window connected through.
    const std::string& PortName() const { return w_.PortName; }

    // --- View
    const SMainView& View() const { return page_.View(); }
    TMainStage Stage() const { return page_.Stage(); }
    // Why the last step ended short (the message the technician was shown); empty otherwise.
    const std::string& StopReason() const { return page_.StopReason(); }
    // Test points of the last series that could not be set (reported in the protocol and skipped).
    int SkippedPoints() const;

    // --- Inputs from the widgets: the technician changed a control. No notification follows.
    void SetCBPortNameText(const std::string& text) { page_.View().CBPortNameText = text; }
    void SetSBOpenCloseDown(bool down) { page_.View().SBOpenCloseDown = down; }
    void SetChBDopInfoChecked(bool checked) { page_.View().ChBDopInfoChecked = checked; }
    void SetChB_backChecked(bool checked) { page_.View().ChB_backChecked = checked; }
    // k = 0..4 for EditDigital8..EditDigital12; other k are ignored.
    void SetEditDigitalText(int k, const std::string& text);
    void SetActivePage(int page) override { page_.View().ActivePage = page; }
    // The KFS page's connect and disconnect switch the pages too; they notify like the controller's own.
    void SetTabSheet1(bool visible, bool enabled) override;
    void SetTabSheet2(bool visible, bool enabled) override;
    // The status line is the window's: the KFS page's window shows its steps there too. Notifies vcStatus.
    void SetLStatusCaption(const std::string& text) override { page_.SetStatus(text); }

    // --- Handlers bound to the controls
    // Connect or disconnect, by SBOpenCloseDown (set it first, as a toggle button does before its click).
    void SBOpenCloseClick();
    // "Поверка". While a run is under way the technician is asked first whether to stop it and start anew.
    void Button1Click();
    // "Стоп": the run under way stops, its emulation switched off first.
    void ButtonStopClick();
    // The technician closes the window: true when it may close now; otherwise a run under way is stopped and an
    // unsaved protocol offered first, and vcClose follows (nothing when the technician keeps the window).
    bool CloseQuery();
    // Ends what the window is doing for reason (a signal, a time limit): a run under way is stopped as by "Стоп";
    // otherwise a connection still reading the meter is let go. then follows when that is done.
    void Interrupt(const std::string& reason, std::function<void()> then = {});
    // The technician answered No to "Прибор не отвечает": what ended the step was the meter's silence.
    bool MeterSilent() const { return w_.MeterSilent; }
    // Saves the protocol through the save dialog: code page 1251, CR LF after every line, whole or not at all.
    void SpeedButton1Click();
    // The program ends with the reason of the step that ended it (public so that a test can drive it).
    void TimerCloseTimer(TObject* Sender);

    // --- What the steps keep
    SMainFields Fields() const;
    int ReadStep() const { return connection_.Chain().ReadStep(); }
    const TConfigImage& ConfigImage() const { return connection_.Chain().ConfigImage(); }
    const TSensorImages& SensorImage() const { return connection_.Chain().SensorImage(); }
    // Null until the first press of "Поверка".
    const TFlowMath* FlowMath() const;
    TRurIvaQs_6x6& Net_6x6() { return connection_.Net(); }
    // What the line has done on this window's connections: frames, answers, repetitions, time-outs.
    const SLineStatistics& LineStatistics() const;
    // The engine's line trace (frames, echo, answers, time-outs, repetitions, wake-ups); empty for none.
    void SetTraceHook(TraceHook hook);

private:
    void Connect();
    // Lets the port go; a run under way is stopped first (its emulation switched off while the line is open).
    void Disconnect();
    void Released();
    void StartRun();
    // Asks "Сохранить протокол?" when the memo holds lines not saved; false when the technician cancelled
    // (only where cancelable) or the save did not happen.
    bool AskToSave(bool cancelable);
    // Saves the protocol through the save dialog; false when the technician cancelled it.
    bool Save();
    void Silent();
    // Stops every timer and request under way: nothing of an earlier connection or run fires afterwards.
    void AbandonRun();
    // Events of the connection.
    void Identified(const SIDDevice& id);
    void RecordsRead(TReadProgress progress);
    void PortLost(const std::string& message);
    // The readout: the sensor choice, the run parameters of the chosen sensor and the protocol header.
    void LastDataTimer(TObject* Sender);
    void BuildHeader(const SSensorRecord& sensor);
    // The name the save dialog suggests: "21345_FS-25S_2026-12-09.TXT".
    std::string ReportName() const;
    void AddKfsLines(const SSensorRecord& sensor);
    void CloseWith(const std::string& reason);

    IPrompter& prompter_;
    Loop& loop_;
    TMainPage page_;
    TMeterConnection connection_;
    SConnectionFields f_;
    std::unique_ptr<TVerificationRun> run_;
    std::unique_ptr<TTimer> LastData, TimerClose;
    SWindowState w_;
};

}  // namespace rv
