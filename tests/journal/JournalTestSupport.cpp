// The engines of the journal tests and their sample records.
#include "JournalTestSupport.h"

#include "journal/ProtocolPoints.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>

#include <fstream>
#include <iterator>
#include <unistd.h>

namespace rv::journal::test {

namespace {

// Opens a connection to the test journal's database as the journal would (no schema switch).
QSqlDatabase Connect(const SJournalLocation& loc, const QString& name)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(loc.Engine == EEngine::SQLite ? "QSQLITE" : "QPSQL", name);
    if (loc.Engine == EEngine::SQLite) {
        db.setDatabaseName(QString::fromStdString(loc.Path));
        db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=10000");
    } else {
        db.setHostName(QString::fromStdString(loc.Host));
        if (loc.Port) db.setPort(loc.Port);
        db.setUserName(QString::fromStdString(loc.User));
        db.setPassword(QString::fromStdString(loc.Password));
        db.setDatabaseName(QString::fromStdString(loc.Database));
        db.setConnectOptions("connect_timeout=5");
    }
    db.open();
    return db;
}

int counter = 0;

}  // namespace

std::string EngineName(const ::testing::TestParamInfo<EEngine>& info)
{
    return info.param == EEngine::SQLite ? "SQLite" : "PostgreSQL";
}

void EngineTest::SetUp()
{
    ASSERT_TRUE(dir_.isValid());
    rawName_ = "raw-" + QString::number(getpid()) + "-" + QString::number(++counter);
    if (GetParam() == EEngine::SQLite) {
        location_ = dir_.filePath("journal.sqlite").toStdString();
        return;
    }
    const QByteArray url = qgetenv("RIVANTA_TEST_PG_URL");
    if (url.isEmpty())
        GTEST_SKIP() << "PostgreSQL: RIVANTA_TEST_PG_URL is not set; scripts/pg-test-server.sh starts a test server";
    // A schema of its own per test process, so tests running at once do not see each other's records.
    const std::string schema = "t" + std::to_string(getpid()) + "_" + std::to_string(counter);
    location_ = url.toStdString() + (url.contains('?') ? "&" : "?") + "schema=" + schema;
    QSqlDatabase db = Raw();
    if (!db.isOpen()) {
        const std::string why = db.lastError().text().toStdString();
        if (qgetenv("RIVANTA_TEST_PG_REQUIRED") == "1") FAIL() << "PostgreSQL test server unreachable: " << why;
        GTEST_SKIP() << "PostgreSQL: no server at RIVANTA_TEST_PG_URL (" << why << ")";
    }
    RawExec("SET client_min_messages TO warning");
    RawExec(QString::fromStdString("DROP SCHEMA IF EXISTS " + schema + " CASCADE"));
    RawExec(QString::fromStdString("CREATE SCHEMA " + schema));
    RawExec(QString::fromStdString("SET search_path TO " + schema));
}

void EngineTest::TearDown()
{
    if (QSqlDatabase::contains(rawName_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(rawName_, false);
            if (GetParam() == EEngine::PostgreSQL && db.isOpen()) {
                const SJournalLocation loc = ParseJournalLocation(location_);
                QSqlQuery(db).exec(QString::fromStdString("DROP SCHEMA IF EXISTS " + loc.Schema + " CASCADE"));
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(rawName_);
    }
}

QSqlDatabase EngineTest::Raw()
{
    if (QSqlDatabase::contains(rawName_)) return QSqlDatabase::database(rawName_);
    return Connect(ParseJournalLocation(location_), rawName_);
}

void EngineTest::RawExec(const QString& sql)
{
    QSqlQuery q(Raw());
    ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
}

std::string ReferenceProtocol(const std::string& name)
{
    std::ifstream in(std::string(RIVANTA_E2E_REFERENCE) + "/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

SVerificationRecord SampleRecord()
{
    SVerificationRecord r;
    r.Started = {1714547700000, 180};  // 2024-05-01 10:15:00 +03:00
    r.Technician = "Петрова А. С.";
    r.Workstation = "Стенд 2";
    r.ProgramVersion = "0.1";
    r.Port = "/dev/ttyUSB0";
    r.Meter = {"21345", 1, 7, "2.14", "Ривант-М", "исполнение 07", 2019};
    r.Sensor = {0, "FSA", "FS/A FS-25S", "1001", 0.025, "12", "1,0012"};
    r.Conditions = {21.5, 48.0, 100.4, ""};
    r.VerificationType = EVerificationType::Periodic;
    r.Owner = "ООО «Теплосеть»";
    return r;
}

SVerificationPoint Point(EDirection direction, const std::string& nominal, const std::string& set,
                         const std::string& measured, const std::string& relative, const std::string& allowed)
{
    return {direction, nominal, set, measured, relative, allowed, "", EPointVerdict::NotChecked};
}

std::vector<SVerificationPoint> SamplePoints()
{
    return ParseProtocolPoints(ReferenceProtocol("one-path-forward.txt"), false);
}

}  // namespace rv::journal::test
