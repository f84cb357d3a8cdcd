// A journal of the previous schema version, written as that version wrote it, opened by the current program:
// migrated in place, its records whole, and the new columns empty rather than guessed.
#include "JournalTestSupport.h"

#include "journal/JournalSchema.h"
#include "journal/TJournal.h"

#include <QSqlQuery>

namespace rv::journal::test {
namespace {

using JournalMigrationTest = EngineTest;

TEST_P(JournalMigrationTest, RecordOfThePreviousVersionSurvivesTheMigration)
{
    for (const std::string& s : SchemaVersion1(GetParam())) RawExec(QString::fromStdString(s));
    RawExec("INSERT INTO verification (run_id, state, started_utc, started_offset, ended_utc, ended_offset,"
            " updated_utc, writer_host, writer_process, technician, meter_serial, module_number, module_execution,"
            " sensor_designation, sensor_serial, sensor_diameter, qvmax, kfs, reverse_series, outcome, protocol,"
            " repetitions) VALUES ('v1-run', 'failed', 1700000000000, 300, 1700000600000, 300, 1700000600000,"
            " 'old-host', '1/1', 'Сидоров', '30412', 2, 3, 'FS/A FS-50T', '1207', 0.05, '50', '1,0035', 1,"
            " 'не прошли поверку: обратное направление, 0,2000 м3/ч', 'Серийный номер счетчика №30412', 4)");
    QSqlQuery idq(Raw());
    ASSERT_TRUE(idq.exec("SELECT id FROM verification WHERE run_id = 'v1-run'") && idq.next());
    const QString id = idq.value(0).toString();
    idq.finish();
    RawExec("INSERT INTO verification_point (record_id, seq, direction, nominal, set_flow, measured,"
            " relative_error, allowed_error, verdict) VALUES (" + id +
            ", 0, 'forward', '50,0000', '50,1534', '50,1538', '-0,001', '1,5', 'pass'), (" + id +
            ", 1, 'reverse', '0,2000', '0,2029', '0,2129', '-5,100', '5,0', 'fail')");

    TJournal j(location_);
    EXPECT_EQ(j.SchemaVersion(), kSchemaVersion);
    QSqlQuery v(Raw());
    ASSERT_TRUE(v.exec("SELECT version FROM journal_schema"));
    ASSERT_TRUE(v.next());
    EXPECT_EQ(v.value(0).toInt(), 2);
    EXPECT_FALSE(v.next());
    v.finish();

    const auto r = j.Get(id.toLongLong());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->RunId, "v1-run");
    EXPECT_EQ(r->State, ERunState::Failed);
    EXPECT_EQ(r->Started.OffsetMinutes, 300);
    EXPECT_EQ(r->Technician, "Сидоров");
    EXPECT_EQ(r->Meter.Serial, "30412");
    EXPECT_EQ(r->Meter.Execution, 3);
    EXPECT_EQ(r->Sensor.Designation, "FS/A FS-50T");
    EXPECT_TRUE(r->Reverse);
    EXPECT_EQ(r->Protocol, "Серийный номер счетчика №30412");
    EXPECT_EQ(r->Line.Repetitions, 4);
    ASSERT_EQ(r->Points.size(), 2u);
    EXPECT_EQ(r->Points[1].Direction, EDirection::Reverse);
    EXPECT_EQ(r->Points[1].Verdict, EPointVerdict::Fail);
    EXPECT_FALSE(r->Conditions.AirTemperature);
    EXPECT_FALSE(r->VerificationType);
    EXPECT_FALSE(r->Meter.ManufactureYear);
    EXPECT_EQ(r->Owner, "");

    // The migrated journal takes the new fields, for the old record and for new ones.
    j.SetConditions(r->Id, {20.0, 50.0, 101.0, ""});
    EXPECT_EQ(j.Get(r->Id)->Conditions.Pressure, 101.0);
    SVerificationRecord next = SampleRecord();
    const int64_t n = j.Begin(next);
    EXPECT_GT(n, r->Id);
    EXPECT_EQ(j.Get(n)->Meter.ManufactureYear, 2019);
    SJournalFilter tech;
    tech.Technician = "Сидоров";
    EXPECT_EQ(j.Count(tech), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, JournalMigrationTest, ::testing::Values(EEngine::SQLite, EEngine::PostgreSQL),
                         EngineName);

}  // namespace
}  // namespace rv::journal::test
