// The "Журнал" page's rows: newest first, a page at a time as the view asks, narrowed by the filter.
#include "JournalTestSupport.h"

#include "journal/TJournalModel.h"

#include <QSignalSpy>

namespace rv::journal::test {
namespace {

using JournalModelTest = EngineTest;

TEST_P(JournalModelTest, PagesNewestFirstAndFilterBySerial)
{
    TJournal j(location_);
    constexpr int kRecords = TJournalModel::kPageSize + 10;
    for (int i = 0; i < kRecords; ++i) {
        SVerificationRecord r = SampleRecord();
        r.Meter.Serial = i % 3 == 0 ? "A" : "B";
        r.Started.UtcMs += i * 60000LL;
        const int64_t id = j.Begin(r);
        SRunEnd end;
        end.Completed = i % 2 == 0;
        j.Complete(id, end);
    }
    TJournalModel model(j);
    EXPECT_EQ(model.rowCount(), 0);
    model.Reload();
    EXPECT_EQ(model.columnCount(), TJournalModel::colCount);
    EXPECT_EQ(model.rowCount(), TJournalModel::kPageSize);
    ASSERT_TRUE(model.canFetchMore(QModelIndex()));
    model.fetchMore(QModelIndex());
    EXPECT_EQ(model.rowCount(), kRecords);
    EXPECT_FALSE(model.canFetchMore(QModelIndex()));
    for (int row = 1; row < model.rowCount(); ++row)
        EXPECT_GT(model.RecordAt(row - 1)->Started.UtcMs, model.RecordAt(row)->Started.UtcMs);

    // The newest record is the last written: number 210 (serial B, stopped: no points, not completed).
    const QModelIndex top = model.index(0, TJournalModel::colNumber);
    EXPECT_EQ(model.data(top, TJournalModel::RecordIdRole).toLongLong(), model.RecordAt(0)->Id);
    EXPECT_EQ(model.data(model.index(0, TJournalModel::colMeter)).toString(), "B");
    EXPECT_EQ(model.data(model.index(0, TJournalModel::colSensor)).toString(), "FS/A FS-25S №1001");
    EXPECT_EQ(model.data(model.index(0, TJournalModel::colVerdict)).toString(), "не завершена");
    EXPECT_EQ(model.data(model.index(0, TJournalModel::colTechnician)).toString(), "Петрова А. С.");
    EXPECT_EQ(model.data(model.index(1, TJournalModel::colVerdict)).toString(), "не годен");  // no points
    EXPECT_EQ(model.headerData(TJournalModel::colVerdict, Qt::Horizontal).toString(), "Результат");
    EXPECT_FALSE(model.data(model.index(kRecords + 5, 0)).isValid());

    SJournalFilter serial;
    serial.MeterSerial = "A";
    model.SetFilter(serial);
    EXPECT_EQ(model.rowCount(), (kRecords + 2) / 3);
    EXPECT_FALSE(model.canFetchMore(QModelIndex()));
    for (int row = 0; row < model.rowCount(); ++row)
        EXPECT_EQ(model.data(model.index(row, TJournalModel::colMeter)).toString(), "A");
    serial.Verdict = EVerdictFilter::NotCompleted;
    model.SetFilter(serial);
    EXPECT_EQ(model.rowCount(), kRecords / 6);  // serial A (every third) and odd (not completed)
    serial.MeterSerial = "нет такого";
    model.SetFilter(serial);
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_P(JournalModelTest, ReadFailureWhileScrollingIsReportedNotThrown)
{
    auto j = std::make_unique<TJournal>(location_);
    for (int i = 0; i < TJournalModel::kPageSize + 1; ++i) {
        SVerificationRecord r = SampleRecord();
        r.Started.UtcMs += i;
        j->Begin(r);
    }
    TJournalModel model(*j);
    model.Reload();
    ASSERT_TRUE(model.canFetchMore(QModelIndex()));
    QSignalSpy failed(&model, &TJournalModel::LoadFailed);
    RawExec("DROP TABLE verification_point");
    RawExec("ALTER TABLE verification RENAME TO verification_gone");
    model.fetchMore(QModelIndex());
    EXPECT_EQ(failed.count(), 1);
    EXPECT_FALSE(model.canFetchMore(QModelIndex()));
    EXPECT_EQ(model.rowCount(), TJournalModel::kPageSize);
    EXPECT_THROW(model.Reload(), EJournalError);
    EXPECT_EQ(model.rowCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, JournalModelTest, ::testing::Values(EEngine::SQLite, EEngine::PostgreSQL),
                         EngineName);

}  // namespace
}  // namespace rv::journal::test
