// Drives one main window's controller through a verification without a person: connect, "Поверка" once the meter
// is ready, the protocol saved where asked, the answers of its boxes and dialogs, and the end as an outcome. The
// headless runner's single job and each meter of a bench are one of these with their own log and end.
#pragma once

#include "app/bench/BenchTypes.h"
#include "app/verify/TFMainController.h"
#include "app/window/IPrompter.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rv {

class Loop;

// What a run is driven with.
struct SVerifyDrive {
    std::optional<int> Sensor;  // position 0..5; the first offered when unset
    bool Reverse = false;
    bool ExtraInfo = false;
    bool AnswerYes = false;      // the answer to every Yes/No question
    std::string ClosingMessage;  // the end when the window closes under the run and says no reason of its own

    // From any options that name the sensor, the direction, the extra information and the answer.
    template <class Options>
    static SVerifyDrive Of(const Options& o, std::string closingMessage)
    {
        return {o.Sensor, o.Reverse, o.ExtraInfo, o.AnswerYes, std::move(closingMessage)};
    }
};

class TVerifyDriver {
public:
    // The controller and the loop outlive the driver; the controller's prompter forwards to the driver's answers.
    TVerifyDriver(TFMainController& controller, Loop& loop, SVerifyDrive drive);
    TVerifyDriver(const TVerifyDriver&) = delete;
    TVerifyDriver& operator=(const TVerifyDriver&) = delete;

    // A line of the course (connection, answers, phases, errors, the end).
    std::function<void(const std::string& text)> Log;
    // The run has ended with outcome and why; said once.
    std::function<void(TBenchOutcome outcome, const std::string& message)> OnEnd;
    // Asked once the protocol is complete: where to save it; empty for nowhere.
    std::function<std::string()> ReportPath;
    // The protocol went to path.
    std::function<void(const std::string& path)> OnSaved;
    // A stop was asked and said; the interruption follows.
    std::function<void()> OnStopping;

    // Presses the connect button with the port name; the run then goes on in the loop.
    void Connect(const std::string& portName);
    // Stops as "Стоп" would: a run under way switches its emulation off first, then the run ends stopped. False
    // when it has ended or is stopping already.
    bool Stop(const std::string& reason);
    // Follows a change of the controller's view: the phases of the run and the stages that lead to the end.
    void Follow(TViewChange change);
    // Lets the port go; a run still under way is interrupted for reason first. Then done, from the loop or at once.
    void Release(const std::string& reason, std::function<void()> done);

    bool Ended() const { return ended_; }
    bool Stopping() const { return stopping_; }

    // The answers of the controller's prompter.
    void Message(const std::string& text, const std::string& caption);
    bool Question(const std::string& text, const std::string& caption);
    // No: nothing the box could save or keep is wanted (the protocol goes where it was asked once complete).
    TAnswer QuestionCancel(const std::string& text, const std::string& caption);
    std::optional<int> ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices);
    std::optional<std::string> SaveFileName() const;
    void ShowException(const std::exception& error);

    // Logs the dialog's caption and its choices a line each; returns the positions offered, as "0, 3".
    static std::string LogChoices(const std::function<void(const std::string&)>& log, TSensorDialog dialog,
                                  const std::vector<SSensorChoice>& choices);

private:
    void Say(const std::string& text);
    void Done();
    void End(TBenchOutcome outcome, const std::string& message);
    // Runs fn from the loop, unless the driver is gone by then.
    void Later(std::function<void()> fn);

    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    TFMainController& ctl_;
    Loop& loop_;
    SVerifyDrive drive_;
    std::string reportPath_;
    bool opened_ = false;   // the port opened: a stop with the button up is a lost line
    bool pressed_ = false;  // "Поверка" was pressed
    bool stopping_ = false;
    bool ended_ = false;
    bool saving_ = false;
    bool saveFailed_ = false;
};

}  // namespace rv
