// The journal page's rows, read with the journal's cursor (started time and id of the last row), so every page
// costs the same however far the view has scrolled.
#include "journal/TJournalModel.h"

#include "journal/DocumentText.h"

#include <QColor>

namespace rv::journal {

TJournalModel::TJournalModel(TJournal& journal, QObject* parent) : QAbstractTableModel(parent), journal_(journal) {}

void TJournalModel::SetFilter(const SJournalFilter& filter)
{
    filter_ = filter;
    Reload();
}

void TJournalModel::Reload()
{
    beginResetModel();
    rows_.clear();
    atEnd_ = true;
    try {
        rows_ = journal_.List(filter_, kPageSize);
        atEnd_ = rows_.size() < static_cast<size_t>(kPageSize);
    } catch (...) {
        endResetModel();
        throw;
    }
    endResetModel();
}

const SVerificationRecord* TJournalModel::RecordAt(int row) const
{
    return row >= 0 && static_cast<size_t>(row) < rows_.size() ? &rows_[static_cast<size_t>(row)] : nullptr;
}

int TJournalModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TJournalModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : colCount; }

QVariant TJournalModel::data(const QModelIndex& index, int role) const
{
    const SVerificationRecord* r = index.isValid() ? RecordAt(index.row()) : nullptr;
    if (!r) return {};
    if (role == RecordIdRole) return static_cast<qlonglong>(r->Id);
    if (role == StateRole) return static_cast<int>(r->State);
    const int column = index.column();
    if (role == Qt::DisplayRole) {
        switch (column) {
            case colNumber: return static_cast<qlonglong>(r->Id);
            case colDate:
                return QString::fromStdString(LocalDate(r->Started) + " " + LocalTime(r->Started));
            case colMeter: return QString::fromStdString(r->Meter.Serial);
            case colSensor: return QString::fromStdString(r->Sensor.Designation + " №" + r->Sensor.Serial);
            case colTechnician: return QString::fromStdString(r->Technician);
            case colVerdict: return QString(StateText(r->State));
            default: return {};
        }
    }
    if (role == Qt::ToolTipRole && column == colVerdict && !r->Outcome.empty())
        return QString::fromStdString(r->Outcome);
    if (role == Qt::ForegroundRole && column == colVerdict) {
        switch (r->State) {
            case ERunState::Passed: return QColor(27, 94, 32);
            case ERunState::Failed: return QColor(183, 28, 28);
            case ERunState::InProgress: return {};
            case ERunState::Interrupted:
            case ERunState::Stopped: return QColor(130, 90, 0);
        }
    }
    if (role == Qt::TextAlignmentRole && column == colNumber)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    return {};
}

QVariant TJournalModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case colNumber: return QString("№");
        case colDate: return QString("Дата");
        case colMeter: return QString("Счётчик");
        case colSensor: return QString("Датчик");
        case colTechnician: return QString("Поверитель");
        case colVerdict: return QString("Результат");
        default: return {};
    }
}

bool TJournalModel::canFetchMore(const QModelIndex& parent) const { return !parent.isValid() && !atEnd_; }

void TJournalModel::fetchMore(const QModelIndex& parent)
{
    if (parent.isValid() || atEnd_ || rows_.empty()) return;
    std::vector<SVerificationRecord> more;
    try {
        more = journal_.ListAfter(filter_, {rows_.back().Started.UtcMs, rows_.back().Id}, kPageSize);
    } catch (const std::exception& e) {
        atEnd_ = true;
        emit LoadFailed(QString::fromUtf8(e.what()));
        return;
    }
    atEnd_ = more.size() < static_cast<size_t>(kPageSize);
    if (more.empty()) return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(more.size()) - 1);
    for (SVerificationRecord& r : more) rows_.push_back(std::move(r));
    endInsertRows();
}

}  // namespace rv::journal
