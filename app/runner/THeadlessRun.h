// What the headless runner's two jobs share: the course of the job on the log stream, stamped with the loop's
// time; message boxes, questions and sensor dialogs written to it; and the end, said once, after which the job
// lets go of its connection from the loop and tells the program with which exit status to end.
#pragma once

#include "app/bench/BenchTypes.h"
#include "app/window/IPrompter.h"
#include "core/Event.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace rv {

class Loop;

// Exit statuses of the runner; each means one thing. A verification's status is its run's outcome.
enum TVerifyExit {
    veComplete = boComplete,      // the protocol is complete (and saved when asked); the KFS written and read back
    veIncomplete = boIncomplete,  // the meter refused or a check failed (emulator, correction mode, zero flow, sensor,
                                  // points)
    veUsage = boUsage,            // bad arguments, or a sensor the meter does not offer
    vePort = boPort,              // the port could not be opened
    veLineLost = boLineLost,      // the line was lost in the middle of the run
    veStopped = boStopped,        // stopped by the technician or a signal
};

class THeadlessRun : public IPrompter {
public:
    THeadlessRun(const THeadlessRun&) = delete;
    THeadlessRun& operator=(const THeadlessRun&) = delete;

    bool Finished() const { return finished_; }
    int ExitCode() const { return exitCode_; }
    // Raised once, from the loop, after the port has been closed; the program ends with the code.
    Event<void(int exitCode)> OnFinished;

    // IPrompter: a message box is written to the log with its caption.
    void Message(const std::string& text, const std::string& caption) override;
    // A Yes/No/Cancel box: No. The runner keeps nothing the box could save or keep (the protocol is on its output).
    TAnswer QuestionCancel(const std::string& text, const std::string& caption) override;

    // Ends the job early for reason (a signal, the time limit): as the technician's stop would, then the program
    // ends with veStopped.
    virtual void Stop(const std::string& reason) = 0;
    // Draws the course of the job as one line that is written over (for a terminal); off by default.
    void SetProgressLine(bool on) { progressLine_ = on; }

protected:
    explicit THeadlessRun(std::ostream& log) : log_(log) {}

    // One line of the log, its line breaks folded, stamped with the loop's time (0 before Start).
    void Log(const std::string& text);
    // The window's status line, written when it differs from the one before.
    void LogStatus(const std::string& status);
    // Writes the question with the answer given; returns the answer.
    bool Answer(const std::string& text, const std::string& caption, bool yes);
    // Writes the dialog's caption and its choices; returns the positions offered, as "0, 3".
    std::string LogChoices(TSensorDialog dialog, const std::vector<SSensorChoice>& choices);
    // The progress line: per mille of the job and what it is doing. Written over itself on a terminal only.
    void Progress(int permille, const std::string& text);
    // Records the outcome and says it, the first time only; then, from the loop, Release and OnFinished.
    void Finish(int code, const std::string& message);
    // Lets go of the connection of the window the job drives (a run under way is stopped first), then done.
    virtual void Release(std::function<void()> done) = 0;

    Loop* loop_ = nullptr;  // set by the job's Start
    bool finished_ = false;

private:
    std::ostream& log_;
    int exitCode_ = veIncomplete;
    std::string lastStatus_;
    bool progressLine_ = false;
    bool progressShown_ = false;  // the progress line stands on the terminal and a log line must clear it first
};

}  // namespace rv
