// Writers as separate processes: one killed with SIGKILL while it runs leaves an interrupted record and an
// intact database; two writing one journal at once lose nothing.
#include "JournalTestSupport.h"

#include "journal/TJournal.h"

#include <QProcess>

namespace rv::journal::test {
namespace {

using JournalProcessTest = EngineTest;

QStringList WriterArgs(const std::string& location, const QStringList& rest)
{
    return QStringList{QString::fromStdString(location)} + rest;
}

// Starts the writer and waits for its "ready" line; the line without its end.
QString StartAndWaitReady(QProcess& p, const std::string& location, const QStringList& rest)
{
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(RIVANTA_JOURNAL_WRITER, WriterArgs(location, rest));
    EXPECT_TRUE(p.waitForStarted(10000));
    while (!p.canReadLine())
        if (!p.waitForReadyRead(60000)) break;
    return QString::fromUtf8(p.readLine()).trimmed();
}

TEST_P(JournalProcessTest, WriterKilledMidRunLeavesInterruptedRecordAndIntactJournal)
{
    { TJournal create(location_); }
    QProcess holder;
    const QString ready = StartAndWaitReady(holder, location_, {"hold", "3"});
    ASSERT_TRUE(ready.startsWith("ready ")) << ready.toStdString();
    const int64_t id = ready.mid(6).toLongLong();
    holder.kill();  // SIGKILL
    ASSERT_TRUE(holder.waitForFinished(10000));

    QProcess churner;
    ASSERT_EQ(StartAndWaitReady(churner, location_, {"churn"}), "ready");
    churner.kill();  // lands among its writes
    ASSERT_TRUE(churner.waitForFinished(10000));

    TJournal j(location_);
    EXPECT_EQ(j.IntegrityProblems(), "");
    const auto held = j.Get(id);
    ASSERT_TRUE(held);
    EXPECT_EQ(held->State, ERunState::Interrupted);
    EXPECT_EQ(held->Points.size(), 3u);
    EXPECT_EQ(held->Protocol, "протокол до точки 3");
    EXPECT_EQ(held->Line.ChecksumFailures, 3);

    const auto churned = j.List(SJournalFilter{}, 1000);
    ASSERT_GE(churned.size(), 21u);
    for (const SVerificationRecord& r : churned) {
        EXPECT_EQ(r.State, ERunState::Interrupted) << r.Id;
        EXPECT_LE(j.Get(r.Id)->Points.size(), 5u);
    }
    // The journal goes on after the crash.
    SVerificationRecord next = SampleRecord();
    const int64_t after = j.Begin(next);
    j.AppendPoint(after, SamplePoints()[0]);
    EXPECT_EQ(j.Get(after)->Points.size(), 1u);
}

TEST_P(JournalProcessTest, TwoWritersAtOnceLoseNothing)
{
    { TJournal create(location_); }
    constexpr int kRuns = 25, kPoints = 4;
    QProcess a, b;
    for (QProcess* p : {&a, &b}) p->setProcessChannelMode(QProcess::ForwardedChannels);
    a.start(RIVANTA_JOURNAL_WRITER, WriterArgs(location_, {"write", QString::number(kRuns), QString::number(kPoints), "A"}));
    b.start(RIVANTA_JOURNAL_WRITER, WriterArgs(location_, {"write", QString::number(kRuns), QString::number(kPoints), "B"}));
    for (QProcess* p : {&a, &b}) {
        ASSERT_TRUE(p->waitForFinished(240000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
    }
    TJournal j(location_);
    EXPECT_EQ(j.IntegrityProblems(), "");
    for (const char* tag : {"A", "B"}) {
        SJournalFilter f;
        f.Technician = tag;
        EXPECT_EQ(j.Count(f), kRuns) << tag;
        f.Verdict = EVerdictFilter::Passed;
        const auto runs = j.List(f, 1000);
        ASSERT_EQ(runs.size(), static_cast<size_t>(kRuns)) << tag;
        for (const SVerificationRecord& r : runs) {
            const auto whole = j.Get(r.Id);
            EXPECT_EQ(whole->Points.size(), static_cast<size_t>(kPoints));
            EXPECT_EQ(whole->Protocol, "протокол " + whole->Meter.Serial);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, JournalProcessTest, ::testing::Values(EEngine::SQLite, EEngine::PostgreSQL),
                         EngineName);

}  // namespace
}  // namespace rv::journal::test
