// The test points of a run as a table: direction, nominal, set and measured flows, relative and allowed errors as
// the protocol printed them, and each point's verdict in words and colour.
#pragma once

#include "journal/JournalTypes.h"

#include <QTableWidget>

#include <vector>

namespace rv {

class TPointsTable : public QTableWidget {
    Q_OBJECT
public:
    enum EColumn { colDirection, colNominal, colSet, colMeasured, colRelative, colAllowed, colVerdict, colCount };
    static constexpr int kVisibleRows = 7;

    explicit TPointsTable(QWidget* parent = nullptr);
    ~TPointsTable() override;

    // The points replace the rows; each is judged from its printed texts.
    void SetPoints(const std::vector<journal::SVerificationPoint>& points);
    // One more row at the end, scrolled into view.
    void AddPoint(const journal::SVerificationPoint& point);
    void Clear();

    QSize sizeHint() const override;
};

}  // namespace rv
