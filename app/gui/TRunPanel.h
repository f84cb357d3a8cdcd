// The verification page's panel under the protocol: the points of the run as a table, the verdict of the run
// that ended in large type, the conditions the runs are recorded with and the buttons to change them and to
// print the protocol of the run just done.
#pragma once

#include "journal/JournalTypes.h"

#include <QWidget>

#include <string>

class QLabel;
class QPushButton;

namespace rv {

class TPointsTable;
class TVerdictView;

class TRunPanel : public QWidget {
    Q_OBJECT
public:
    explicit TRunPanel(QWidget* parent = nullptr);
    ~TRunPanel() override;

    // The conditions in use, and whether the runs are recorded at all (a journal that could not be opened).
    void ShowConditions(const journal::SConditions& conditions, bool recorded);

    TVerdictView* Verdict;
    QLabel* Conditions;
    QPushButton* ConditionsButton;
    QPushButton* PrintButton;
    TPointsTable* Points;

signals:
    void ConditionsClicked();
    void PrintClicked();
};

}  // namespace rv
