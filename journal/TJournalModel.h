// The rows of the "Журнал" page without widgets: the journal's records newest first under a filter, read a
// page at a time as the view scrolls, so a journal of any size opens at once.
#pragma once

#include "journal/TJournal.h"

#include <QAbstractTableModel>

#include <string>
#include <vector>

namespace rv::journal {

class TJournalModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum EColumn { colNumber, colDate, colMeter, colSensor, colTechnician, colVerdict, colCount };
    enum ERole {
        RecordIdRole = Qt::UserRole + 1,  // qlonglong: the record's id (every column)
        StateRole,                        // int: ERunState
    };
    static constexpr int kPageSize = 200;

    // The journal must outlive the model. Nothing is read until SetFilter or Reload.
    explicit TJournalModel(TJournal& journal, QObject* parent = nullptr);

    // Shows the first page of the records the filter selects; throws EJournalError (the rows are then empty).
    void SetFilter(const SJournalFilter& filter);
    void Reload();
    const SJournalFilter& Filter() const { return filter_; }
    // The record of a row as the list holds it (without points and protocol); nullptr outside the rows.
    const SVerificationRecord* RecordAt(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    // Reads the next page; a failure stops further reading and is told by LoadFailed (a view's call must not
    // throw).
    void fetchMore(const QModelIndex& parent) override;

signals:
    void LoadFailed(const QString& message);

private:
    TJournal& journal_;
    SJournalFilter filter_;
    std::vector<SVerificationRecord> rows_;
    bool atEnd_ = true;
};

}  // namespace rv::journal
