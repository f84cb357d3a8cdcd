// The command rivanta-journal as a script runs it: its output, the files it writes and its exit statuses.
#include "JournalTestSupport.h"

#include "journal/LaboratorySettings.h"
#include "journal/TJournal.h"

#include <QFile>
#include <QProcess>

namespace rv::journal::test {
namespace {

struct SCommandRun {
    int Status = -1;
    std::string Out, Err;
};

class JournalCommandTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        if (IsSkipped() || HasFailure()) return;
        TJournal j(location_);
        auto add = [&j](const std::string& serial, int64_t started, const std::string& relative) {
            SVerificationRecord r = SampleRecord();
            r.Meter.Serial = serial;
            r.Started.UtcMs = started;
            r.Protocol = "Серийный номер счетчика №" + serial;
            r.Points = SamplePoints();
            r.Points[0].RelativeError = relative;
            const int64_t id = j.Begin(r);
            SRunEnd end;
            end.Completed = true;
            end.Protocol = r.Protocol;
            j.Complete(id, end);
            return id;
        };
        passed_ = add("21345", 1714547700000, "0,000");  // 2024-05-01 10:15 +03:00
        failed_ = add("30412", 1714634100000, "1,600");  // 2024-05-02
        settings_ = dir_.filePath("laboratory.ini").toStdString();
    }

    SCommandRun Run(QStringList args, bool withJournal = true)
    {
        if (withJournal) args = QStringList{"--journal", QString::fromStdString(location_)} + args;
        args = QStringList{"--settings", QString::fromStdString(settings_)} + args;
        QProcess p;
        p.start(RIVANTA_JOURNAL_PROGRAM, args);
        EXPECT_TRUE(p.waitForFinished(120000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
                p.readAllStandardError().toStdString()};
    }

    int64_t passed_ = 0, failed_ = 0;
    std::string settings_;
};

TEST_P(JournalCommandTest, ListsAndShowsRecords)
{
    const SCommandRun all = Run({"list"});
    ASSERT_EQ(all.Status, 0) << all.Err;
    EXPECT_EQ(all.Out, "Номер\tДата\tСчётчик\tДатчик\tПоверитель\tРезультат\n" + std::to_string(failed_) +
                           "\t02.05.2024 10:15\t30412\tFS/A FS-25S №1001\tПетрова А. С.\tне годен\n" +
                           std::to_string(passed_) + "\t01.05.2024 10:15\t21345\tFS/A FS-25S №1001\tПетрова А. С.\tгоден\n");
    EXPECT_EQ(Run({"list", "--serial", "21345"}).Out.find("30412"), std::string::npos);
    const SCommandRun failed = Run({"list", "--verdict", "не годен"});
    EXPECT_NE(failed.Out.find("30412"), std::string::npos);
    EXPECT_EQ(failed.Out.find("21345"), std::string::npos);
    EXPECT_EQ(Run({"list", "--limit", "1", "--offset", "1"}).Out.find("30412"), std::string::npos);

    const SCommandRun show = Run({"show", QString::number(failed_)});
    ASSERT_EQ(show.Status, 0) << show.Err;
    for (const char* s : {"Результат: не годен", "прямое направление, 12,0000 м3/ч: погрешность 1,600%",
                          "прямое\t12,0000\t12,1436\t12,1436\t1,600\t1,5\tне годен", "Серийный номер счетчика №30412"})
        EXPECT_NE(show.Out.find(s), std::string::npos) << s << "\n" << show.Out;
    EXPECT_EQ(Run({"show", "999999"}).Status, 3);
}

TEST_P(JournalCommandTest, ExportsDocumentsAndRefusesWhatTheRegistryLacks)
{
    const QString csv = dir_.filePath("out.csv");
    const SCommandRun c = Run({"export", "--csv", QString::number(passed_), QString::number(failed_), csv});
    ASSERT_EQ(c.Status, 0) << c.Err;
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF№ протокола;"));
    EXPECT_EQ(bytes.count("\r\n"), 3);

    const QString xml = dir_.filePath("out.xml");
    const SCommandRun refused = Run({"export", "--xml", "--serial", "30412", xml});
    EXPECT_EQ(refused.Status, 4);
    EXPECT_NE(refused.Err.find("signCipher"), std::string::npos) << refused.Err;
    EXPECT_FALSE(QFile::exists(xml));

    SLaboratorySettings lab;
    lab.TypeNumbers = {{"", "12345-06"}};
    lab.SignCipher = "ГЦИ";
    lab.MethodTitle = "МП 123-2019";
    lab.IntervalMonths = 48;
    lab.Standards = {"3.1.ZZZ.0001.2020"};
    SaveLaboratorySettings(lab, settings_);
    const SCommandRun made = Run({"export", "--xml", "--serial", "30412", xml});
    ASSERT_EQ(made.Status, 0) << made.Err;
    QFile x(xml);
    ASSERT_TRUE(x.open(QIODevice::ReadOnly));
    const QByteArray doc = x.readAll();
    EXPECT_TRUE(doc.contains("inapplicable"));
    EXPECT_FALSE(doc.contains("<gost:applicable>"));

    const QString pdf = dir_.filePath("out.pdf");
    const SCommandRun p = Run({"export", "--pdf", "--since", "2024-05-02", "--until", "2024-05-02", pdf});
    ASSERT_EQ(p.Status, 0) << p.Err;
    EXPECT_NE(p.Err.find("записей: 1"), std::string::npos) << p.Err;
    QFile pf(pdf);
    ASSERT_TRUE(pf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pf.read(5) == "%PDF-");
    EXPECT_EQ(Run({"export", "--csv", "--serial", "нет такого", csv}).Status, 3);
    EXPECT_EQ(Run({"export", "--csv", "1", "/proc/нельзя/out.csv"}).Status, 4);
}

TEST_P(JournalCommandTest, UsageAndJournalErrorsHaveTheirStatuses)
{
    const SCommandRun help = Run({"--help"}, false);
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("Код завершения"), std::string::npos);
    EXPECT_EQ(Run({"--version"}, false).Status, 0);
    for (const QStringList& bad : {QStringList{}, QStringList{"drop"}, QStringList{"list", "--since", "01.05.2024"},
                                   QStringList{"list", "--verdict", "хорош"}, QStringList{"show"},
                                   QStringList{"export", "--csv", "--xml", "f"}, QStringList{"list", "--bogus"}}) {
        const SCommandRun r = Run(bad);
        EXPECT_EQ(r.Status, 1) << bad.join(' ').toStdString();
        EXPECT_NE(r.Err.find("rivanta-journal: "), std::string::npos) << r.Err;
    }
    const QString notJournal = dir_.filePath("text.sqlite");
    QFile f(notJournal);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(2048, 'x'));
    f.close();
    const SCommandRun broken = Run({"--journal", notJournal, "list"}, false);
    EXPECT_EQ(broken.Status, 2);
    EXPECT_NE(broken.Err.find("не является журналом поверок"), std::string::npos) << broken.Err;
}

INSTANTIATE_TEST_SUITE_P(Engines, JournalCommandTest, ::testing::Values(EEngine::SQLite, EEngine::PostgreSQL),
                         EngineName);

}  // namespace
}  // namespace rv::journal::test
