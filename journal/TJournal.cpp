// The journal's writing half: opening a journal (creating or migrating its tables) and the records of runs,
// each change one transaction.
#include "journal/TJournal.h"

#include "controls/NumberText.h"
#include "journal/JournalSchema.h"
#include "journal/TJournalImpl.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QUuid>

#include <atomic>
#include <cmath>

namespace rv::journal {

const char* const kRecordColumns[rcCount] = {
    "id", "run_id", "state", "started_utc", "started_offset", "ended_utc", "ended_offset", "updated_utc",
    "writer_host", "writer_process", "technician", "workstation", "program_version", "port",
    "meter_serial", "module_number", "module_execution", "meter_software",
    "sensor_position", "sensor_type", "sensor_designation", "sensor_serial", "sensor_diameter", "qvmax", "kfs",
    "reverse_series", "extra_info", "outcome", "protocol", "repetitions", "timeouts", "checksum_failures",
    "air_temperature", "humidity", "pressure", "conditions_other", "verification_type", "meter_owner",
    "meter_model", "meter_modification", "manufacture_year",
};

namespace {

std::atomic<int> connectionCounter{0};

QVariant Nullable(const std::optional<double>& v)
{
    return v && std::isfinite(*v) ? QVariant(*v) : QVariant(QMetaType(QMetaType::Double));
}

QVariant Nullable(const std::optional<int>& v)
{
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::Int));
}

QVariant Int64(int64_t v) { return QVariant(static_cast<qlonglong>(v)); }

// The value a new record stores in a column.
QVariant BeginValue(ERecordColumn c, const SVerificationRecord& r, const SWriter& w, int64_t now)
{
    switch (c) {
        case rcId: break;
        case rcRunId: return ToDb(r.RunId, 64);
        case rcState: return QString(StoredState(ERunState::InProgress));
        case rcStartedUtc: return Int64(r.Started.UtcMs);
        case rcStartedOffset: return r.Started.OffsetMinutes;
        case rcEndedUtc: return QVariant(QMetaType(QMetaType::LongLong));
        case rcEndedOffset: return Nullable(std::optional<int>());
        case rcUpdatedUtc: return Int64(now);
        case rcWriterHost: return ToDb(w.Host);
        case rcWriterProcess: return ToDb(w.Process);
        case rcTechnician: return ToDb(r.Technician);
        case rcWorkstation: return ToDb(r.Workstation);
        case rcProgramVersion: return ToDb(r.ProgramVersion);
        case rcPort: return ToDb(r.Port);
        case rcMeterSerial: return ToDb(r.Meter.Serial);
        case rcModuleNumber: return r.Meter.ModuleNumber;
        case rcModuleExecution: return r.Meter.Execution;
        case rcMeterSoftware: return ToDb(r.Meter.SoftwareVersion);
        case rcSensorPosition: return r.Sensor.Position;
        case rcSensorType: return ToDb(r.Sensor.Type);
        case rcSensorDesignation: return ToDb(r.Sensor.Designation);
        case rcSensorSerial: return ToDb(r.Sensor.Serial);
        case rcSensorDiameter: return std::isfinite(r.Sensor.Diameter) ? r.Sensor.Diameter : 0.0;
        case rcQVmax: return ToDb(r.Sensor.QVmax);
        case rcKfs: return ToDb(r.Sensor.Kfs);
        case rcReverse: return r.Reverse ? 1 : 0;
        case rcExtraInfo: return r.ExtraInfo ? 1 : 0;
        case rcOutcome: return QString("");
        case rcProtocol: return ToDb(r.Protocol, TJournal::kMaxProtocolBytes);
        case rcRepetitions: return Int64(r.Line.Repetitions);
        case rcTimeouts: return Int64(r.Line.Timeouts);
        case rcChecksumFailures: return Int64(r.Line.ChecksumFailures);
        case rcAirTemperature: return Nullable(r.Conditions.AirTemperature);
        case rcHumidity: return Nullable(r.Conditions.Humidity);
        case rcPressure: return Nullable(r.Conditions.Pressure);
        case rcConditionsOther: return ToDb(r.Conditions.Other);
        case rcVerificationType:
            return Nullable(r.VerificationType ? std::optional<int>(static_cast<int>(*r.VerificationType))
                                               : std::optional<int>());
        case rcOwner: return ToDb(r.Owner);
        case rcModel: return ToDb(r.Meter.Model);
        case rcModification: return ToDb(r.Meter.Modification);
        case rcManufactureYear: return Nullable(r.Meter.ManufactureYear);
        case rcCount: break;
    }
    return {};
}

QString BeginStatement()
{
    QString names, marks;
    for (int c = rcRunId; c < rcCount; ++c) {
        names += QString(c == rcRunId ? "" : ", ") + kRecordColumns[c];
        marks += c == rcRunId ? "?" : ", ?";
    }
    return "INSERT INTO verification (" + names + ") VALUES (" + marks + ") RETURNING id";
}

std::string NoRecord(int64_t id) { return "в журнале нет записи №" + std::to_string(id); }

// The stored state of a record, checked to be a run still in progress.
void RequireRunning(const TJournal::Impl& d, int64_t id, const std::string& what)
{
    QSqlQuery q = d.Run("SELECT state FROM verification WHERE id = ?", {Int64(id)}, what);
    if (!q.next()) throw EJournalError(what + ": " + NoRecord(id) + ".");
    if (FromDb(q.value(0), 32) != StoredState(ERunState::InProgress))
        throw EJournalError(what + ": запись №" + std::to_string(id) + " уже закрыта.");
}

void InsertPoint(const TJournal::Impl& d, int64_t id, int seq, const SVerificationPoint& p, const std::string& what)
{
    d.Run("INSERT INTO verification_point (record_id, seq, direction, nominal, set_flow, measured, relative_error,"
          " allowed_error, not_checked, verdict) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
          {Int64(id), seq, QString(p.Direction == EDirection::Reverse ? "reverse" : "forward"), ToDb(p.Nominal, 256),
           ToDb(p.Set, 256), ToDb(p.Measured, 256), ToDb(p.RelativeError, 256), ToDb(p.AllowedError, 256),
           ToDb(p.NotCheckedReason, 1024), QString(StoredVerdict(JudgePoint(p)))},
          what);
}

}  // namespace

const char* StoredState(ERunState state)
{
    switch (state) {
        case ERunState::InProgress: return "running";
        case ERunState::Interrupted: return "interrupted";
        case ERunState::Stopped: return "stopped";
        case ERunState::Passed: return "passed";
        case ERunState::Failed: break;
    }
    return "failed";
}

const char* StoredVerdict(EPointVerdict verdict)
{
    switch (verdict) {
        case EPointVerdict::Pass: return "pass";
        case EPointVerdict::Fail: return "fail";
        case EPointVerdict::NotChecked: break;
    }
    return "not_checked";
}

QString ToDb(const std::string& text, size_t maxBytes)
{
    QString s = QString::fromUtf8(CutUtf8(text, maxBytes));
    s.remove(QChar(0));
    return s.isNull() ? QString("") : s;  // a null QString would be stored as NULL
}

std::string FromDb(const QVariant& value, size_t maxBytes)
{
    const std::string s = value.toString().toStdString();
    return std::string(CutUtf8(s, maxBytes));
}

STimestamp LocalNow()
{
    const QDateTime now = QDateTime::currentDateTime();
    return {now.toMSecsSinceEpoch(), now.offsetFromUtc() / 60};
}

// ---- statements and transactions

void TJournal::Impl::Fail(const std::string& what, const QSqlError& error) const
{
    const std::string code = error.nativeErrorCode().toStdString();
    std::string reason;
    if (Engine() == EEngine::SQLite) {
        if (code == "5" || code == "6")
            reason = "журнал занят другой программой дольше " + std::to_string(kBusyTimeoutMs / 1000) + " с";
        else if (code == "26") reason = "файл не является журналом поверок";
        else if (code == "13") reason = "диск заполнен";
        else if (code == "8") reason = "нет права записи в файл журнала";
        else if (code == "14") reason = "файл журнала не открывается";
    }
    if (reason.empty()) {
        QString text = error.databaseText().trimmed();
        const QString driver = error.driverText().trimmed();
        if (text.isEmpty()) text = driver;
        else if (!driver.isEmpty() && !text.contains(driver)) text += " (" + driver + ")";
        reason = text.isEmpty() ? "ошибка базы данных без описания" : text.toStdString();
    }
    throw EJournalError(what + ": " + reason + ".");
}

QSqlQuery TJournal::Impl::Run(const QString& sql, std::initializer_list<QVariant> values,
                              const std::string& what) const
{
    QSqlQuery q(Db);
    q.setForwardOnly(true);
    // PostgreSQL prepares only queries and changes of rows; SET, BEGIN and the like go as they are.
    if (values.size() == 0) {
        if (!q.exec(sql)) Fail(what, q.lastError());
        return q;
    }
    if (!q.prepare(sql)) Fail(what, q.lastError());
    for (const QVariant& v : values) q.addBindValue(v);
    if (!q.exec()) Fail(what, q.lastError());
    return q;
}

TWriteTransaction::TWriteTransaction(const TJournal::Impl& d, std::string what) : d_(d), what_(std::move(what))
{
    d_.Run(d_.Engine() == EEngine::SQLite ? "BEGIN IMMEDIATE" : "BEGIN", {}, what_);
    open_ = true;
}

TWriteTransaction::~TWriteTransaction()
{
    if (!open_) return;
    QSqlQuery q(d_.Db);
    q.exec("ROLLBACK");
}

void TWriteTransaction::Commit()
{
    d_.Run("COMMIT", {}, what_);
    open_ = false;
}

// ---- opening

namespace {

// The schema version of an open journal, -1 when it has none (a new database).
int ReadVersion(const TJournal::Impl& d, const std::string& what)
{
    const bool sqlite = d.Engine() == EEngine::SQLite;
    QSqlQuery has = d.Run(sqlite ? "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'journal_schema'"
                                 : "SELECT COUNT(*) FROM pg_tables WHERE schemaname = current_schema()"
                                   " AND tablename = 'journal_schema'",
                          {}, what);
    if (!has.next() || has.value(0).toLongLong() == 0) {
        // A database that holds other tables is not a journal; it is not written to.
        QSqlQuery other = d.Run(sqlite ? "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'"
                                       : "SELECT COUNT(*) FROM pg_tables WHERE schemaname = current_schema()"
                                         " AND tablename IN ('verification', 'verification_point')",
                                {}, what);
        if (other.next() && other.value(0).toLongLong() != 0)
            throw EJournalError(what + ": база данных содержит другие таблицы и не является журналом поверок.");
        return -1;
    }
    QSqlQuery q = d.Run("SELECT MAX(version) FROM journal_schema", {}, what);
    bool ok = false;
    const int v = q.next() ? q.value(0).toInt(&ok) : 0;
    if (!ok || v < 1) throw EJournalError(what + ": версия журнала не записана.");
    return v;
}

void PrepareSchema(TJournal::Impl& d)
{
    const std::string what = "Не удалось подготовить журнал поверок «" + DescribeLocation(d.Location) + "»";
    const bool pg = d.Engine() == EEngine::PostgreSQL;
    if (pg && !d.Location.Schema.empty()) {
        const QString schema = QString::fromStdString(d.Location.Schema);
        QSqlQuery has = d.Run("SELECT COUNT(*) FROM pg_namespace WHERE nspname = ?", {schema}, what);
        if (!has.next() || has.value(0).toLongLong() == 0) {
            TWriteTransaction t(d, what);
            d.Run("SELECT pg_advisory_xact_lock(7275301)", {}, what);
            d.Run("CREATE SCHEMA IF NOT EXISTS \"" + schema + "\"", {}, what);
            t.Commit();
        }
        d.Run("SET search_path TO \"" + schema + "\"", {}, what);
    }
    d.Version = ReadVersion(d, what);
    if (d.Version > kSchemaVersion)
        throw EJournalError(what + ": журнал ведёт более новая версия программы (схема " + std::to_string(d.Version) +
                            "); обновите программу.");
    if (d.Version == kSchemaVersion) return;
    // Create or migrate under the write lock; another program may have done it meanwhile.
    TWriteTransaction t(d, what);
    if (pg) d.Run("SELECT pg_advisory_xact_lock(7275301)", {}, what);
    int v = ReadVersion(d, what);
    if (v > kSchemaVersion) throw EJournalError(what + ": журнал ведёт более новая версия программы.");
    if (v < 0) {
        for (const std::string& s : SchemaVersion1(d.Engine())) d.Run(QString::fromStdString(s), {}, what);
        v = 1;
    }
    for (; v < kSchemaVersion; ++v)
        for (const std::string& s : MigrationTo(v + 1, d.Engine())) d.Run(QString::fromStdString(s), {}, what);
    t.Commit();
    d.Version = kSchemaVersion;
}

void Connect(TJournal::Impl& d)
{
    const SJournalLocation& loc = d.Location;
    const std::string what = "Не удалось открыть журнал поверок «" + DescribeLocation(loc) + "»";
    const bool sqlite = loc.Engine == EEngine::SQLite;
    const QString driver = sqlite ? "QSQLITE" : "QPSQL";
    if (!QSqlDatabase::isDriverAvailable(driver))
        throw EJournalError(what + ": не установлен драйвер базы данных Qt " + driver.toStdString() + " (пакет " +
                            (sqlite ? "libqt6sql6-sqlite" : "libqt6sql6-psql") + ").");
    d.ConnectionName = "rivanta-journal-" + QString::number(connectionCounter++);
    d.Db = QSqlDatabase::addDatabase(driver, d.ConnectionName);
    if (sqlite) {
        const QString path = QString::fromStdString(loc.Path);
        const QString dir = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(dir))
            throw EJournalError(what + ": не удаётся создать папку «" + dir.toStdString() + "».");
        if (QFileInfo(path).isDir()) throw EJournalError(what + ": это папка, а не файл.");
        d.Db.setDatabaseName(path);
        d.Db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=" + QString::number(TJournal::kBusyTimeoutMs));
    } else {
        d.Db.setHostName(QString::fromStdString(loc.Host));
        if (loc.Port) d.Db.setPort(loc.Port);
        d.Db.setUserName(QString::fromStdString(loc.User));
        d.Db.setPassword(QString::fromStdString(loc.Password));
        d.Db.setDatabaseName(QString::fromStdString(loc.Database));
        // A server that does not answer is given up after 10 s unless the URL says otherwise.
        QStringList options;
        bool timeout = false;
        for (const auto& [k, v] : loc.Options) {
            options << QString::fromStdString(k + "=" + v);
            timeout = timeout || k == "connect_timeout";
        }
        if (!timeout) options << "connect_timeout=10";
        d.Db.setConnectOptions(options.join(';'));
    }
    if (!d.Db.open()) d.Fail(what, d.Db.lastError());
    if (!sqlite) d.Run("SET client_min_messages TO warning", {}, what);  // no notices on the program's stderr
    if (sqlite) {
        // WAL lets readers go on while one writer writes; FULL makes a committed record survive a power cut.
        d.Run("PRAGMA journal_mode = WAL", {}, what);
        d.Run("PRAGMA synchronous = FULL", {}, what);
        d.Run("PRAGMA foreign_keys = ON", {}, what);
    }
}

}  // namespace

TJournal::TJournal(const std::string& location) : d_(std::make_unique<Impl>())
{
    d_->Location = ParseJournalLocation(location);
    d_->Writer = ThisWriter();
    try {
        Connect(*d_);
        PrepareSchema(*d_);
    } catch (...) {
        d_->Db.close();
        d_->Db = QSqlDatabase();
        if (!d_->ConnectionName.isEmpty()) QSqlDatabase::removeDatabase(d_->ConnectionName);
        throw;
    }
}

TJournal::~TJournal()
{
    for (int64_t id : d_->Begun) {
        QSqlQuery q(d_->Db);
        q.prepare("UPDATE verification SET state = ?, outcome = ?, updated_utc = ? WHERE id = ? AND state = ?");
        q.addBindValue(QString(StoredState(ERunState::Interrupted)));
        q.addBindValue(QString("программа закрыла журнал до окончания поверки"));
        q.addBindValue(Int64(d_->Now().UtcMs));
        q.addBindValue(Int64(id));
        q.addBindValue(QString(StoredState(ERunState::InProgress)));
        q.exec();
    }
    d_->Db.close();
    d_->Db = QSqlDatabase();
    QSqlDatabase::removeDatabase(d_->ConnectionName);
}

const SJournalLocation& TJournal::Location() const { return d_->Location; }
int TJournal::SchemaVersion() const { return d_->Version; }
void TJournal::SetClock(Clock clock) { d_->Clock = std::move(clock); }

// ---- writing runs

int64_t TJournal::Begin(SVerificationRecord& r)
{
    const std::string what = "Не удалось записать в журнал начало поверки";
    if (r.Started.UtcMs == 0) r.Started = d_->Now();
    if (r.RunId.empty()) r.RunId = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    if (r.Points.size() > static_cast<size_t>(kMaxPoints))
        throw EJournalError(what + ": больше " + std::to_string(kMaxPoints) + " точек.");
    const int64_t now = d_->Now().UtcMs;
    TWriteTransaction t(*d_, what);
    QSqlQuery q(d_->Db);
    q.setForwardOnly(true);
    if (!q.prepare(BeginStatement())) d_->Fail(what, q.lastError());
    for (int c = rcRunId; c < rcCount; ++c)
        q.addBindValue(BeginValue(static_cast<ERecordColumn>(c), r, d_->Writer, now));
    if (!q.exec()) d_->Fail(what, q.lastError());
    if (!q.next()) throw EJournalError(what + ": база данных не выдала номер записи.");
    const int64_t id = q.value(0).toLongLong();
    q.finish();
    for (size_t i = 0; i < r.Points.size(); ++i) InsertPoint(*d_, id, static_cast<int>(i), r.Points[i], what);
    t.Commit();
    d_->Begun.insert(id);
    r.Id = id;
    r.State = ERunState::InProgress;
    r.Ended.reset();
    r.Outcome.clear();
    for (SVerificationPoint& p : r.Points) p.Verdict = JudgePoint(p);
    return id;
}

void TJournal::AppendPoint(int64_t id, const SVerificationPoint& point)
{
    const std::string what = "Не удалось записать в журнал точку поверки";
    TWriteTransaction t(*d_, what);
    RequireRunning(*d_, id, what);
    QSqlQuery q = d_->Run("SELECT COUNT(*), MAX(seq) FROM verification_point WHERE record_id = ?", {Int64(id)}, what);
    int64_t count = 0, next = 0;
    if (q.next()) {
        count = q.value(0).toLongLong();
        next = q.value(1).isNull() ? 0 : q.value(1).toLongLong() + 1;
    }
    q.finish();
    if (count >= kMaxPoints) throw EJournalError(what + ": больше " + std::to_string(kMaxPoints) + " точек.");
    InsertPoint(*d_, id, static_cast<int>(next), point, what);
    d_->Run("UPDATE verification SET updated_utc = ? WHERE id = ?", {Int64(d_->Now().UtcMs), Int64(id)}, what);
    t.Commit();
}

void TJournal::SaveProgress(int64_t id, const std::string& protocol, const SLineStatistics& line)
{
    const std::string what = "Не удалось записать в журнал ход поверки";
    TWriteTransaction t(*d_, what);
    RequireRunning(*d_, id, what);
    d_->Run("UPDATE verification SET protocol = ?, repetitions = ?, timeouts = ?, checksum_failures = ?,"
            " updated_utc = ? WHERE id = ?",
            {ToDb(protocol, kMaxProtocolBytes), Int64(line.Repetitions), Int64(line.Timeouts),
             Int64(line.ChecksumFailures), Int64(d_->Now().UtcMs), Int64(id)},
            what);
    t.Commit();
}

SVerdict TJournal::Complete(int64_t id, const SRunEnd& end)
{
    const std::string what = "Не удалось записать в журнал окончание поверки";
    TWriteTransaction t(*d_, what);
    RequireRunning(*d_, id, what);
    QSqlQuery q = d_->Run("SELECT reverse_series FROM verification WHERE id = ?", {Int64(id)}, what);
    const bool reverse = q.next() && q.value(0).toLongLong() != 0;
    q.finish();
    SVerdict verdict = JudgeRun(d_->ReadPoints(id, what), end.Completed, reverse, end.StopReason);
    if (!end.Remarks.empty()) verdict.Outcome += (verdict.Outcome.empty() ? "" : "; ") + end.Remarks;
    const STimestamp ended = end.Ended.UtcMs != 0 ? end.Ended : d_->Now();
    d_->Run("UPDATE verification SET state = ?, outcome = ?, ended_utc = ?, ended_offset = ?, updated_utc = ?,"
            " protocol = ?, repetitions = ?, timeouts = ?, checksum_failures = ? WHERE id = ?",
            {QString(StoredState(verdict.State)), ToDb(verdict.Outcome, kMaxOutcomeBytes), Int64(ended.UtcMs),
             ended.OffsetMinutes, Int64(d_->Now().UtcMs), ToDb(end.Protocol, kMaxProtocolBytes),
             Int64(end.Line.Repetitions), Int64(end.Line.Timeouts), Int64(end.Line.ChecksumFailures), Int64(id)},
            what);
    t.Commit();
    d_->Begun.erase(id);
    return verdict;
}

void TJournal::SetConditions(int64_t id, const SConditions& c)
{
    const std::string what = "Не удалось записать в журнал условия поверки";
    TWriteTransaction t(*d_, what);
    QSqlQuery q = d_->Run("UPDATE verification SET air_temperature = ?, humidity = ?, pressure = ?,"
                          " conditions_other = ? WHERE id = ?",
                          {Nullable(c.AirTemperature), Nullable(c.Humidity), Nullable(c.Pressure), ToDb(c.Other),
                           Int64(id)},
                          what);
    if (q.numRowsAffected() == 0) throw EJournalError(what + ": " + NoRecord(id) + ".");
    q.finish();
    t.Commit();
}

void TJournal::SetDetails(int64_t id, const SRecordDetails& details)
{
    const std::string what = "Не удалось записать в журнал сведения о счётчике";
    SVerificationRecord r;
    r.Meter.Model = details.Model;
    r.Meter.Modification = details.Modification;
    r.Meter.ManufactureYear = details.ManufactureYear;
    r.VerificationType = details.VerificationType;
    r.Owner = details.Owner;
    // The columns take their values as a new record would store them.
    constexpr ERecordColumn kColumns[] = {rcModel, rcModification, rcManufactureYear, rcVerificationType, rcOwner};
    QString sets;
    for (const ERecordColumn c : kColumns) sets += QString(sets.isEmpty() ? "" : ", ") + kRecordColumns[c] + " = ?";
    const auto value = [&r](ERecordColumn c) { return BeginValue(c, r, SWriter{}, 0); };
    TWriteTransaction t(*d_, what);
    QSqlQuery q = d_->Run("UPDATE verification SET " + sets + " WHERE id = ?",
                          {value(kColumns[0]), value(kColumns[1]), value(kColumns[2]), value(kColumns[3]),
                           value(kColumns[4]), Int64(id)},
                          what);
    if (q.numRowsAffected() == 0) throw EJournalError(what + ": " + NoRecord(id) + ".");
    q.finish();
    t.Commit();
}

}  // namespace rv::journal
