// One record of the journal opened: its verdict, the meter and sensor, the conditions and the meter's details for
// the registry (both may be entered or corrected), what the registry still lacks, its points and the protocol text;
// its printable protocol saved as PDF or printed.
#pragma once

#include "journal/JournalTypes.h"
#include "journal/LaboratorySettings.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace rv {

class IPrompter;
class TPointsTable;
class TVerdictView;
namespace journal {
class TJournal;
}

class TRecordDialog : public QDialog {
    Q_OBJECT
public:
    // record: whole (TJournal::Get); journal takes corrected conditions; both outlive the dialog.
    TRecordDialog(journal::SVerificationRecord record, journal::TJournal& journal,
                  const journal::SLaboratorySettings& lab, IPrompter& prompter, QWidget* parent = nullptr);
    ~TRecordDialog() override;

    const journal::SVerificationRecord& Record() const { return record_; }

    TVerdictView* Verdict;
    QLabel* Details;
    QTabWidget* Pages;
    TPointsTable* Points;
    QPlainTextEdit* Protocol;
    QPushButton* ConditionsButton;
    QPushButton* DetailsButton;
    QPushButton* PdfButton;
    QPushButton* PrintButton;

private:
    void ShowDetails();
    void EditConditions();
    void EditDetails();

    journal::SVerificationRecord record_;
    journal::TJournal& journal_;
    const journal::SLaboratorySettings& lab_;
    IPrompter& prompter_;
};

}  // namespace rv
