// The main window's "Журнал" page: the journal's records newest first, narrowed by meter serial, date range,
// verdict and technician; a record opened shows its points, protocol and verdict; the selected records' protocols
// saved as PDF or printed, and the records exported as CSV and as the registry's XML.
#pragma once

#include "journal/JournalTypes.h"
#include "journal/LaboratorySettings.h"

#include <QWidget>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QModelIndex;
class QPushButton;
class QTableView;

namespace rv {

class IPrompter;
namespace journal {
class TJournal;
class TJournalModel;
}  // namespace journal

class TJournalPage : public QWidget {
    Q_OBJECT
public:
    // journal: null when it could not be opened (unavailable says why); lab: the laboratory's settings as they
    // are now (the documents read them when made). Both and the prompter outlive the page.
    TJournalPage(journal::TJournal* journal, const std::string& unavailable, const journal::SLaboratorySettings& lab,
                 IPrompter& prompter, QWidget* parent = nullptr);
    ~TJournalPage() override;

    // The filter as the fields hold it.
    journal::SJournalFilter Filter() const;
    // Reads the records of the filter again (a run was recorded, the page came into view).
    void Reload();
    // The selected records, whole; a record that cannot be read is told and left out.
    std::vector<journal::SVerificationRecord> SelectedRecords() const;
    // Opens the record of a row in its dialog.
    void OpenRow(int row);

    QLineEdit* Serial;
    QLineEdit* Technician;
    QComboBox* Verdict;  // all, passed, failed, not completed
    QCheckBox* SinceOn;
    QDateEdit* Since;
    QCheckBox* UntilOn;
    QDateEdit* Until;
    QPushButton* ResetButton;
    QTableView* Table;
    QLabel* Count;
    QPushButton* OpenButton;
    QPushButton* PdfButton;
    QPushButton* PrintButton;
    QPushButton* CsvButton;
    QPushButton* XmlButton;

private:
    void Build();
    void ApplyFilter();
    void ResetFilter();
    void ShowCount();
    void UpdateButtons();

    journal::TJournal* journal_;
    const journal::SLaboratorySettings& lab_;
    IPrompter& prompter_;
    journal::TJournalModel* model_ = nullptr;  // a child of the page; null without a journal
    QString unavailable_;
};

}  // namespace rv
