// The verdict of a run in large type ("годен", "не годен", "не завершена") on its colour, with what it rests on
// below it: the failing points named, or why the run stopped.
#pragma once

#include "journal/JournalTypes.h"

#include <QFrame>

#include <string>

class QLabel;

namespace rv {

class TVerdictView : public QFrame {
    Q_OBJECT
public:
    explicit TVerdictView(QWidget* parent = nullptr);
    ~TVerdictView() override;

    // No verdict: nothing is shown (no run has ended).
    void Clear();
    void Show(journal::ERunState state, const std::string& outcome);
    bool Shown() const { return shown_; }

    QLabel* Caption;
    QLabel* Verdict;
    QLabel* Outcome;

private:
    bool shown_ = false;
};

}  // namespace rv
