// The verification journal at laboratory scale: 100,000 records (10,000 meters, 20 technicians, 8 points
// each; every 20th run failed, every 97th stopped) in a SQLite file, and in PostgreSQL too when
// RIVANTA_TEST_PG_URL names a server (scripts/pg-test-server.sh). Measured: opening the journal with the
// "Журнал" page's first screen, the page filtered by a meter's serial, a technician and a verdict, the next
// page, counting all records, one record read whole, and the write of one run (begin, 8 points, end: ten
// transactions, SQLite syncing each to the disk).
#include <benchmark/benchmark.h>

#include "journal/TJournal.h"
#include "journal/TJournalModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

using namespace rv::journal;

namespace {

constexpr int kRecords = 100000;
constexpr int kMeters = 10000;
constexpr int kPoints = 8;

std::string Serial(int meter) { return std::to_string(100000 + meter); }

// Fills a new journal at `location` with kRecords finished runs in one transaction, through a connection
// of its own (the journal's own writes are measured below, one run at a time).
void Fill(const std::string& location)
{
    { TJournal create(location); }
    const SJournalLocation loc = ParseJournalLocation(location);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(loc.Engine == EEngine::SQLite ? "QSQLITE" : "QPSQL", "fill");
        if (loc.Engine == EEngine::SQLite) {
            db.setDatabaseName(QString::fromStdString(loc.Path));
        } else {
            db.setHostName(QString::fromStdString(loc.Host));
            db.setUserName(QString::fromStdString(loc.User));
            db.setDatabaseName(QString::fromStdString(loc.Database));
        }
        if (!db.open()) std::fprintf(stderr, "fill: %s\n", db.lastError().text().toUtf8().constData());
        QSqlQuery q(db);
        if (loc.Engine == EEngine::PostgreSQL) q.exec(QString::fromStdString("SET search_path TO " + loc.Schema));
        q.exec("BEGIN");
        QSqlQuery rec(db), pt(db);
        rec.prepare("INSERT INTO verification (run_id, state, started_utc, started_offset, ended_utc, ended_offset,"
                    " updated_utc, writer_host, writer_process, technician, meter_serial, sensor_designation,"
                    " sensor_serial, protocol, outcome) VALUES (?, ?, ?, 180, ?, 180, ?, 'bench', '1/1', ?, ?,"
                    " 'FS/A FS-25S', '1001', ?, ?) RETURNING id");
        pt.prepare("INSERT INTO verification_point (record_id, seq, direction, nominal, set_flow, measured,"
                   " relative_error, allowed_error, verdict) VALUES (?, ?, ?, '12,0000', '12,1436', '12,1436',"
                   " '0,000', '1,5', 'pass')");
        const QString protocol = QString("Номинальное значение расхода 12,0000м3/ч\n").repeated(40);
        for (int i = 0; i < kRecords; ++i) {
            const qlonglong started = 1600000000000LL + i * 600000LL;
            const bool failed = i % 20 == 0, stopped = i % 97 == 0;
            rec.addBindValue(QString("bench-%1").arg(i));
            rec.addBindValue(stopped ? "stopped" : (failed ? "failed" : "passed"));
            rec.addBindValue(started);
            rec.addBindValue(started + 600000);
            rec.addBindValue(started + 600000);
            rec.addBindValue(QString("Поверитель %1").arg(i % 20));
            rec.addBindValue(QString::fromStdString(Serial(i % kMeters)));
            rec.addBindValue(protocol);
            rec.addBindValue(failed ? "не прошли поверку: прямое направление, 12,0000 м3/ч" : "");
            if (!rec.exec() || !rec.next()) std::fprintf(stderr, "fill: %s\n", rec.lastError().text().toUtf8().constData());
            const qlonglong id = rec.value(0).toLongLong();
            rec.finish();
            for (int k = 0; k < kPoints; ++k) {
                pt.addBindValue(id);
                pt.addBindValue(k);
                pt.addBindValue(k < kPoints / 2 ? "forward" : "reverse");
                pt.exec();
            }
        }
        q.exec("COMMIT");
        q.exec("ANALYZE");
        db.close();
    }
    QSqlDatabase::removeDatabase("fill");
}

struct SJournals {
    QTemporaryDir Dir{QDir::currentPath() + "/bench-journal-XXXXXX"};
    std::string SQLite;
    std::string PostgreSQL;  // empty without a server
};

SJournals* journals = nullptr;

const std::string& Location(const benchmark::State& state)
{
    return state.range(0) == 0 ? journals->SQLite : journals->PostgreSQL;
}

void BM_OpenFirstScreen(benchmark::State& state)
{
    for (auto _ : state) {
        TJournal j(Location(state));
        TJournalModel model(j);
        model.Reload();
        benchmark::DoNotOptimize(model.rowCount());
    }
}

void BM_OpenJournal(benchmark::State& state)
{
    for (auto _ : state) {
        TJournal j(Location(state));
        benchmark::DoNotOptimize(j.SchemaVersion());
    }
}

void BM_FirstScreen(benchmark::State& state)
{
    TJournal j(Location(state));
    TJournalModel model(j);
    for (auto _ : state) {
        model.Reload();
        benchmark::DoNotOptimize(model.rowCount());
    }
}

void BM_FilterBySerial(benchmark::State& state)
{
    TJournal j(Location(state));
    TJournalModel model(j);
    int meter = 0;
    for (auto _ : state) {
        SJournalFilter f;
        f.MeterSerial = Serial(meter = (meter + 7919) % kMeters);
        model.SetFilter(f);
        if (model.rowCount() != kRecords / kMeters) state.SkipWithError("wrong row count");
    }
}

// The page under filters made one after another by `make` (given the iteration's number).
template <typename MakeFilter>
void FilterPage(benchmark::State& state, MakeFilter make)
{
    TJournal j(Location(state));
    TJournalModel model(j);
    int n = 0;
    for (auto _ : state) {
        model.SetFilter(make(n++));
        benchmark::DoNotOptimize(model.rowCount());
    }
}

void BM_FilterByTechnician(benchmark::State& state)
{
    FilterPage(state, [](int n) {
        SJournalFilter f;
        f.Technician = "Поверитель " + std::to_string(n % 20);
        return f;
    });
}

void BM_FilterFailed(benchmark::State& state)
{
    FilterPage(state, [](int) {
        SJournalFilter f;
        f.Verdict = EVerdictFilter::Failed;
        return f;
    });
}

void BM_FilterNotCompleted(benchmark::State& state)
{
    FilterPage(state, [](int) {
        SJournalFilter f;
        f.Verdict = EVerdictFilter::NotCompleted;
        return f;
    });
}

void BM_ScrollOnePage(benchmark::State& state)
{
    TJournal j(Location(state));
    TJournalModel model(j);
    model.Reload();
    for (auto _ : state) {
        if (!model.canFetchMore(QModelIndex())) {
            state.PauseTiming();
            model.Reload();
            state.ResumeTiming();
        }
        model.fetchMore(QModelIndex());
    }
}

void BM_CountAll(benchmark::State& state)
{
    TJournal j(Location(state));
    for (auto _ : state) benchmark::DoNotOptimize(j.Count(SJournalFilter{}));
}

void BM_GetWholeRecord(benchmark::State& state)
{
    TJournal j(Location(state));
    int64_t id = 1;
    for (auto _ : state) {
        id = id * 48271 % kRecords + 1;
        benchmark::DoNotOptimize(j.Get(id));
    }
}

void BM_WriteOneRun(benchmark::State& state)
{
    TJournal j(Location(state));
    SVerificationPoint p;
    p.Nominal = "12,0000";
    p.Set = "12,1436";
    p.Measured = "12,1436";
    p.RelativeError = "0,000";
    p.AllowedError = "1,5";
    const std::string protocol(3000, 'x');
    for (auto _ : state) {
        SVerificationRecord r;
        r.Meter.Serial = "bench-write";
        r.Technician = "Поверитель";
        const int64_t id = j.Begin(r);
        for (int k = 0; k < kPoints; ++k) j.AppendPoint(id, p);
        SRunEnd end;
        end.Completed = true;
        end.Protocol = protocol;
        j.Complete(id, end);
    }
}

void Register(const char* engine, int index)
{
    auto add = [&](const char* name, void (*fn)(benchmark::State&)) {
        benchmark::RegisterBenchmark((std::string(name) + "/" + engine).c_str(), fn)
            ->Arg(index)
            ->Unit(benchmark::kMillisecond);
    };
    add("OpenJournalAndFirstScreen", BM_OpenFirstScreen);
    add("OpenJournal", BM_OpenJournal);
    add("FirstScreen", BM_FirstScreen);
    add("FilterBySerial", BM_FilterBySerial);
    add("FilterByTechnician", BM_FilterByTechnician);
    add("FilterFailed", BM_FilterFailed);
    add("FilterNotCompleted", BM_FilterNotCompleted);
    add("ScrollOnePage", BM_ScrollOnePage);
    add("CountAll", BM_CountAll);
    add("GetWholeRecord", BM_GetWholeRecord);
    add("WriteOneRun8Points", BM_WriteOneRun);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    SJournals j;
    journals = &j;
    j.SQLite = j.Dir.filePath("journal.sqlite").toStdString();
    std::fprintf(stderr, "filling %d records into %s\n", kRecords, j.SQLite.c_str());
    Fill(j.SQLite);
    Register("SQLite", 0);
    const QByteArray url = qgetenv("RIVANTA_TEST_PG_URL");
    if (!url.isEmpty()) {
        j.PostgreSQL = url.toStdString() + (url.contains('?') ? "&" : "?") + "schema=bench" + std::to_string(getpid());
        std::fprintf(stderr, "filling %d records into PostgreSQL\n", kRecords);
        Fill(j.PostgreSQL);
        Register("PostgreSQL", 1);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!j.PostgreSQL.empty()) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "drop");
        const SJournalLocation loc = ParseJournalLocation(j.PostgreSQL);
        db.setHostName(QString::fromStdString(loc.Host));
        db.setUserName(QString::fromStdString(loc.User));
        db.setDatabaseName(QString::fromStdString(loc.Database));
        if (db.open()) QSqlQuery(db).exec(QString::fromStdString("DROP SCHEMA " + loc.Schema + " CASCADE"));
    }
    return 0;
}
