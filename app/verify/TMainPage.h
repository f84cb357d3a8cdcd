// The verification page as its widgets show it: the state of its controls, where the window stands and why a step
// ended short. The main window's controller and its run both change it; every change is told to the widgets.
//
// Threading: loop thread only.
#pragma once

#include "core/Event.h"

#include <array>
#include <string>
#include <vector>

namespace rv {

class IPrompter;

// EditDigital8 … EditDigital12: the required-flow fields of a run.
inline constexpr int kRequiredFlowFields = 5;

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
    vcPhase,        // RunPhase: the run entered a new phase (or ended)
    vcPoints,       // RunPoints: a point was added (its last one) or the list emptied
};

// A test point as the protocol printed it: the figures with the locale's separator, without their units.
struct SRunPoint {
    bool Reverse = false;
    std::string Nominal;     // the required flow as typed, m3/h
    std::string Set;         // m3/h
    std::string Measured;    // m3/h
    std::string Relative;    // %
    std::string Allowed;     // %
    std::string NotChecked;  // why the point could not be set ("Точка не проверена: ..."); the figures stay empty
};

// The state of the main window's controls. Named after the controls they bind to.
struct SMainView {
    std::string LStatusCaption;  // empty until something happened
    // The status line shows the course of a run (its phase and the time left), not a message of its own.
    bool LStatusIsProgress = false;
    std::vector<std::string> Memo1Lines;
    // The whole run, once from 0 to 1000 (per mille).
    int ProgressBar3Min = 0;
    int ProgressBar3Max = 1000;
    int ProgressBar3Position = 0;
    // The phase of the run under way ("Проверка нуля", "Развертка задержек 3 из 10", "Точка 2 из 5", ...).
    std::string RunPhase;
    // The points of the run under way, or of the last one, in the order the protocol printed them.
    std::vector<SRunPoint> RunPoints;
    std::string CBPortNameText = "COM1";
    bool CBPortNameEnabled = true;
    bool SBOpenCloseDown = false;
    bool Button1Enabled = false;
    bool ButtonStopEnabled = false;  // "Стоп": while a run is under way
    bool ChB_backEnabled = false;
    bool ChB_backChecked = false;
    bool ChBDopInfoChecked = false;
    // EditDigital8 … EditDigital12: the required flows of the run, as typed or as filled by the run.
    std::array<std::string, kRequiredFlowFields> EditDigitalText = {"0", "0", "0", "0", "0"};
    bool TabSheet1Visible = true;
    bool TabSheet1Enabled = true;
    bool TabSheet2Visible = true;
    bool TabSheet2Enabled = true;
    int ActivePage = 0;  // 0 TabSheet1, 1 TabSheet2
};

class TMainPage {
public:
    // Changes are told through changed (the controller's event); message boxes go to prompter.
    TMainPage(IPrompter& prompter, Event<void(TViewChange change)>& changed) : prompter_(prompter), changed_(changed) {}

    SMainView& View() { return view_; }
    const SMainView& View() const { return view_; }
    TMainStage Stage() const { return stage_; }
    const std::string& StopReason() const { return stopReason_; }

    void SetStatus(const std::string& text);
    // The course of a run in the status line: its phase (vcPhase when it changed) and the time left.
    void SetRunStatus(const std::string& phase, const std::string& left);
    void ClearMemo();
    void AddLine(const std::string& line);
    void SetProgress(int min, int max, int position);
    void SetProgressPosition(int position);
    // A new stage; any stage but msStopped forgets the stop reason.
    void SetStage(TMainStage stage);
    // Shows the message (caption "Ошибка") and ends the step: the stage becomes msStopped with it as reason.
    void Stop(const std::string& message);
    // Ends the step with a reason the technician has already been shown.
    void Stopped(const std::string& reason);
    // The reason the program is about to end with (kept through TimerClose).
    void SetStopReason(const std::string& reason) { stopReason_ = reason; }
    // The program ends: the stage becomes msClosing, the stop reason stays, and the window is told to close.
    void Close();
    void Notify(TViewChange change) { changed_(change); }
    // The memo holds lines that were not saved since they were added.
    bool Unsaved() const { return unsaved_; }
    void MarkSaved() { unsaved_ = false; }

private:
    IPrompter& prompter_;
    Event<void(TViewChange change)>& changed_;
    SMainView view_;
    TMainStage stage_ = msIdle;
    std::string stopReason_;
    bool unsaved_ = false;
};

}  // namespace rv
