// The GUI's side of the verification journal: opens the journal when the program starts, records every run of the
// main window in it, and puts the run panel (points, verdict, conditions, printing) under the protocol, the
// "Журнал" page beside the other pages and the laboratory's settings behind the connection panel's button.
//
// A journal that cannot be opened is told once; the program then works on without recording, and says so in the
// window's title.
#pragma once

#include "app/gui/TJournalPage.h"
#include "app/gui/TRunPanel.h"
#include "app/record/TRunRecorder.h"
#include "app/verify/TFMainController.h"
#include "journal/LaboratorySettings.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>
#include <string>

namespace rv {

class IPrompter;
class TFMain;
namespace journal {
class TJournal;
}

class TGuiJournal : public QObject {
    Q_OBJECT
public:
    // The controller, the window and the prompter outlive this object; the panel and the page become the
    // window's. The laboratory's settings and the journal are read now.
    TGuiJournal(TFMainController& controller, TFMain& window, IPrompter& prompter);
    // The record of a run under way is left interrupted.
    ~TGuiJournal() override;

    // Once the window is shown: tells, after the window has come up, that the journal could not be opened.
    void Shown();

    // Null when the journal could not be opened; then Unavailable() says why.
    journal::TJournal* Journal() { return journal_.get(); }
    const std::string& Unavailable() const { return unavailable_; }
    TRunRecorder* Recorder() { return recorder_.get(); }
    const journal::SLaboratorySettings& Laboratory() const { return lab_; }
    // Who verifies and under which conditions: what the runs from now on are recorded with.
    const SRunRecordContext& Context() const { return context_; }
    TRunPanel& RunPanel() { return *panel_; }
    TJournalPage& JournalPage() { return *page_; }
    // A run has ended since the program started: the run panel shows its verdict and may print it.
    bool RunEnded() const { return ended_; }

    // The buttons' handlers.
    void EditLaboratory();
    void EditConditions();
    void PrintLastRun();

signals:
    // The technician, the laboratory or the conditions the next runs are recorded with have changed.
    void ContextChanged();

private:
    void RunEvent(TFMainController::TRunEvent event);
    void PointsChanged();
    void ShowVerdict();

    TFMainController& controller_;
    TFMain& window_;
    IPrompter& prompter_;
    journal::SLaboratorySettings lab_;
    SRunRecordContext context_;
    std::unique_ptr<journal::TJournal> journal_;
    std::string unavailable_;
    std::unique_ptr<TRunRecorder> recorder_;
    QPointer<TRunPanel> panel_;    // owned by the window
    QPointer<TJournalPage> page_;  // owned by the window
    bool underWay_ = false;        // a run started and has not ended
    bool ended_ = false;
    bool recorded_ = false;  // the journal completed the record of the last run
    // The last run as it ended, when the journal did not complete its record: what its printed protocol shows.
    std::optional<journal::SVerificationRecord> unrecorded_;
};

}  // namespace rv
