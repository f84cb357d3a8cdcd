// The journal record of every verification run of a main window: begun when the run starts, each point added as the
// protocol prints it, completed when the run ends or stops; a crash or a power cut leaves an interrupted record,
// never nothing. The GUI, the headless runner and the bench keep one per window.
//
// Threading: loop thread only. A journal that fails is told once through OnError; the run goes on.
#pragma once

#include "app/verify/TFMainController.h"
#include "core/Event.h"
#include "journal/JournalTypes.h"
#include "journal/Verdict.h"

#include <cstdint>
#include <optional>
#include <string>

namespace rv {

namespace journal {
class TJournal;
}

// Who verifies, where and under which conditions: what the meter cannot tell.
struct SRunRecordContext {
    std::string Technician;
    std::string Workstation;  // empty: the host's name
    std::string ProgramVersion;
    journal::SConditions Conditions;
    std::optional<journal::EVerificationType> VerificationType;
    std::string Owner;
};

class TRunRecorder {
public:
    // Records the runs of controller into journal; both outlive the recorder. It takes the controller's
    // OnRunEvent for itself.
    TRunRecorder(TFMainController& controller, journal::TJournal& journal, SRunRecordContext context);
    ~TRunRecorder();
    TRunRecorder(const TRunRecorder&) = delete;
    TRunRecorder& operator=(const TRunRecorder&) = delete;

    // The conditions of the runs from now on (the technician corrected them).
    void SetContext(SRunRecordContext context) { context_ = std::move(context); }
    // The record of the run under way or of the last one; 0 before the first.
    int64_t RecordId() const { return id_; }
    // The verdict of the last run that ended, as the journal judged it.
    const std::optional<journal::SVerdict>& Verdict() const { return verdict_; }
    // The journal refused a write: the message for the technician. Raised once per run.
    Event<void(const std::string& message)> OnError;
    // A run ended and its record is complete (Verdict() holds it).
    Event<void(int64_t id)> OnRecorded;

    // The record the controller's run under way would begin with (without id and times).
    static journal::SVerificationRecord Describe(const TFMainController& controller, const SRunRecordContext& context);
    // The whole record of the controller's last run as the journal would complete it, for a document made without
    // a journal: its points, its verdict, its end now.
    static journal::SVerificationRecord Snapshot(const TFMainController& controller, const SRunRecordContext& context);

private:
    void RunEvent(TFMainController::TRunEvent event);
    void Failed(const std::exception& error);

    TFMainController& controller_;
    journal::TJournal& journal_;
    SRunRecordContext context_;
    int64_t id_ = 0;
    bool open_ = false;  // the record of the run under way was begun and not completed
    bool failed_ = false;
    std::optional<journal::SVerdict> verdict_;
};

}  // namespace rv
