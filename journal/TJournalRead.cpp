// The journal's reading half: lists newest first with filters, one record whole, and the integrity check.
// What the database returns is taken as untrusted: texts are cut, numbers range-checked, states validated.
#include "journal/TJournal.h"

#include "journal/TJournalImpl.h"

#include <QSqlError>
#include <QSqlRecord>

#include <algorithm>
#include <cmath>

namespace rv::journal {

namespace {

constexpr int kMaxListLimit = 1000;

int64_t Int64Of(const QVariant& v)
{
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    return ok ? n : 0;
}

int IntOf(const QVariant& v, int low, int high)
{
    const int64_t n = Int64Of(v);
    return n < low ? low : (n > high ? high : static_cast<int>(n));
}

std::optional<double> DoubleOf(const QVariant& v)
{
    if (v.isNull()) return std::nullopt;
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok && std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
}

// The select list of a record; the lists leave the protocol out (it can be megabytes).
QString SelectList(bool withProtocol)
{
    QString s;
    for (int c = 0; c < rcCount; ++c) {
        if (c) s += ", ";
        s += c == rcProtocol && !withProtocol ? "'' AS protocol" : kRecordColumns[c];
    }
    return s;
}

struct SWhere {
    QString Sql;
    QVariantList Values;
    void Add(const QString& condition, const QVariantList& values)
    {
        Sql += (Sql.isEmpty() ? " WHERE " : " AND ") + condition;
        Values += values;
    }
};

SWhere WhereOf(const SJournalFilter& f)
{
    SWhere w;
    if (!f.MeterSerial.empty()) w.Add("meter_serial = ?", {ToDb(f.MeterSerial)});
    if (!f.Technician.empty()) w.Add("technician = ?", {ToDb(f.Technician)});
    if (f.SinceUtcMs) w.Add("started_utc >= ?", {static_cast<qlonglong>(*f.SinceUtcMs)});
    if (f.UntilUtcMs) w.Add("started_utc < ?", {static_cast<qlonglong>(*f.UntilUtcMs)});
    switch (f.Verdict) {
        case EVerdictFilter::Any: break;
        case EVerdictFilter::Passed: w.Add("state = ?", {QString(StoredState(ERunState::Passed))}); break;
        case EVerdictFilter::Failed: w.Add("state = ?", {QString(StoredState(ERunState::Failed))}); break;
        case EVerdictFilter::NotCompleted:
            // Named states, not "neither passed nor failed": the list then reads the state index.
            w.Add("state IN (?, ?, ?)",
                  {QString(StoredState(ERunState::InProgress)), QString(StoredState(ERunState::Interrupted)),
                   QString(StoredState(ERunState::Stopped))});
            break;
    }
    return w;
}

// A page of records: the ids chosen first from an index alone, then those rows read, so a list never reads
// the rows it passes over. The records not completed are a few states among many rows: their page is taken
// from the state index and sorted (the unary plus keeps SQLite from walking the whole time index instead).
QString PageSql(const SJournalFilter& f, const SWhere& w, bool withOffset)
{
    const bool steer = f.Verdict == EVerdictFilter::NotCompleted;
    return "SELECT " + SelectList(false) + " FROM verification WHERE id IN (SELECT id FROM verification" + w.Sql +
           (steer ? " ORDER BY +started_utc DESC, +id DESC" : " ORDER BY started_utc DESC, id DESC") + " LIMIT ?" +
           (withOffset ? " OFFSET ?" : "") + ") ORDER BY started_utc DESC, id DESC";
}

QSqlQuery RunList(const TJournal::Impl& d, const QString& sql, const QVariantList& values, const std::string& what)
{
    QSqlQuery q(d.Db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) d.Fail(what, q.lastError());
    for (const QVariant& v : values) q.addBindValue(v);
    if (!q.exec()) d.Fail(what, q.lastError());
    return q;
}

const std::string kReadFailed = "Не удалось прочитать журнал поверок";

}  // namespace

ERunState TJournal::Impl::Shown(const std::string& stored, const std::string& host, const std::string& process,
                                int64_t updatedUtcMs) const
{
    for (ERunState s : {ERunState::Interrupted, ERunState::Stopped, ERunState::Passed, ERunState::Failed})
        if (stored == StoredState(s)) return s;
    if (stored != StoredState(ERunState::InProgress)) return ERunState::Interrupted;
    if (host == Writer.Host) return WriterProcessAlive(process) ? ERunState::InProgress : ERunState::Interrupted;
    return Now().UtcMs - updatedUtcMs < TJournal::kStaleAfterMs ? ERunState::InProgress : ERunState::Interrupted;
}

void TJournal::Impl::ReadRecord(const QSqlQuery& q, SVerificationRecord& r, bool withProtocol) const
{
    auto v = [&q](ERecordColumn c) { return q.value(c); };
    auto text = [&v](ERecordColumn c) { return FromDb(v(c)); };
    r.Id = Int64Of(v(rcId));
    r.RunId = FromDb(v(rcRunId), 64);
    r.Started = {Int64Of(v(rcStartedUtc)), IntOf(v(rcStartedOffset), -24 * 60, 24 * 60)};
    if (!v(rcEndedUtc).isNull()) r.Ended = STimestamp{Int64Of(v(rcEndedUtc)), IntOf(v(rcEndedOffset), -24 * 60, 24 * 60)};
    r.State = Shown(FromDb(v(rcState), 32), text(rcWriterHost), text(rcWriterProcess), Int64Of(v(rcUpdatedUtc)));
    r.Technician = text(rcTechnician);
    r.Workstation = text(rcWorkstation);
    r.ProgramVersion = text(rcProgramVersion);
    r.Port = text(rcPort);
    r.Meter.Serial = text(rcMeterSerial);
    r.Meter.ModuleNumber = IntOf(v(rcModuleNumber), 0, 255);
    r.Meter.Execution = IntOf(v(rcModuleExecution), 0, 65535);
    r.Meter.SoftwareVersion = text(rcMeterSoftware);
    r.Meter.Model = text(rcModel);
    r.Meter.Modification = text(rcModification);
    if (!v(rcManufactureYear).isNull()) r.Meter.ManufactureYear = IntOf(v(rcManufactureYear), 0, 9999);
    r.Sensor.Position = IntOf(v(rcSensorPosition), 0, 5);
    r.Sensor.Type = text(rcSensorType);
    r.Sensor.Designation = text(rcSensorDesignation);
    r.Sensor.Serial = text(rcSensorSerial);
    r.Sensor.Diameter = DoubleOf(v(rcSensorDiameter)).value_or(0.0);
    r.Sensor.QVmax = text(rcQVmax);
    r.Sensor.Kfs = text(rcKfs);
    r.Reverse = Int64Of(v(rcReverse)) != 0;
    r.ExtraInfo = Int64Of(v(rcExtraInfo)) != 0;
    r.Outcome = FromDb(v(rcOutcome), TJournal::kMaxOutcomeBytes);
    if (withProtocol) r.Protocol = FromDb(v(rcProtocol), TJournal::kMaxProtocolBytes);
    r.Line = {std::max<int64_t>(0, Int64Of(v(rcRepetitions))), std::max<int64_t>(0, Int64Of(v(rcTimeouts))),
              std::max<int64_t>(0, Int64Of(v(rcChecksumFailures)))};
    r.Conditions = {DoubleOf(v(rcAirTemperature)), DoubleOf(v(rcHumidity)), DoubleOf(v(rcPressure)),
                    text(rcConditionsOther)};
    const int64_t type = v(rcVerificationType).isNull() ? 0 : Int64Of(v(rcVerificationType));
    if (type == 1 || type == 2) r.VerificationType = static_cast<EVerificationType>(type);
    r.Owner = text(rcOwner);
}

std::vector<SVerificationPoint> TJournal::Impl::ReadPoints(int64_t id, const std::string& what) const
{
    QSqlQuery q = Run("SELECT direction, nominal, set_flow, measured, relative_error, allowed_error, not_checked"
                      " FROM verification_point WHERE record_id = ? ORDER BY seq LIMIT " +
                          QString::number(TJournal::kMaxPoints),
                      {static_cast<qlonglong>(id)}, what);
    std::vector<SVerificationPoint> points;
    while (q.next()) {
        SVerificationPoint p;
        p.Direction = FromDb(q.value(0), 16) == "reverse" ? EDirection::Reverse : EDirection::Forward;
        p.Nominal = FromDb(q.value(1), 256);
        p.Set = FromDb(q.value(2), 256);
        p.Measured = FromDb(q.value(3), 256);
        p.RelativeError = FromDb(q.value(4), 256);
        p.AllowedError = FromDb(q.value(5), 256);
        p.NotCheckedReason = FromDb(q.value(6), 1024);
        p.Verdict = JudgePoint(p);  // from the texts, whatever the stored verdict says
        points.push_back(std::move(p));
    }
    return points;
}

std::vector<SVerificationRecord> TJournal::List(const SJournalFilter& filter, int limit, int64_t offset) const
{
    SWhere w = WhereOf(filter);
    w.Values << std::clamp(limit, 0, kMaxListLimit) << static_cast<qlonglong>(std::max<int64_t>(0, offset));
    QSqlQuery q = RunList(*d_, PageSql(filter, w, true), w.Values, kReadFailed);
    std::vector<SVerificationRecord> out;
    while (q.next()) d_->ReadRecord(q, out.emplace_back(), false);
    return out;
}

std::vector<SVerificationRecord> TJournal::ListAfter(const SJournalFilter& filter, const SListCursor& after,
                                                     int limit) const
{
    SWhere w = WhereOf(filter);
    const auto started = static_cast<qlonglong>(after.StartedUtcMs);
    w.Add("(started_utc < ? OR (started_utc = ? AND id < ?))", {started, started, static_cast<qlonglong>(after.Id)});
    w.Values << std::clamp(limit, 0, kMaxListLimit);
    QSqlQuery q = RunList(*d_, PageSql(filter, w, false), w.Values, kReadFailed);
    std::vector<SVerificationRecord> out;
    while (q.next()) d_->ReadRecord(q, out.emplace_back(), false);
    return out;
}

int64_t TJournal::Count(const SJournalFilter& filter) const
{
    const SWhere w = WhereOf(filter);
    QSqlQuery q = RunList(*d_, "SELECT COUNT(*) FROM verification" + w.Sql, w.Values, kReadFailed);
    return q.next() ? std::max<int64_t>(0, Int64Of(q.value(0))) : 0;
}

std::optional<SVerificationRecord> TJournal::Get(int64_t id) const
{
    QSqlQuery q = d_->Run("SELECT " + SelectList(true) + " FROM verification WHERE id = ?",
                          {static_cast<qlonglong>(id)}, kReadFailed);
    if (!q.next()) return std::nullopt;
    SVerificationRecord r;
    d_->ReadRecord(q, r, true);
    q.finish();
    r.Points = d_->ReadPoints(id, kReadFailed);
    return r;
}

std::string TJournal::IntegrityProblems() const
{
    const std::string what = "Не удалось проверить журнал поверок";
    std::string problems;
    auto add = [&problems](const std::string& p) { problems += (problems.empty() ? "" : "; ") + p; };
    if (d_->Engine() == EEngine::SQLite) {
        QSqlQuery q = d_->Run("PRAGMA integrity_check", {}, what);
        while (q.next()) {
            const std::string line = FromDb(q.value(0), 512);
            if (line != "ok") add(line);
        }
    }
    QSqlQuery orphans = d_->Run("SELECT COUNT(*) FROM verification_point p LEFT JOIN verification v"
                                " ON v.id = p.record_id WHERE v.id IS NULL",
                                {}, what);
    if (orphans.next() && Int64Of(orphans.value(0)) != 0)
        add(std::to_string(Int64Of(orphans.value(0))) + " точек без записи поверки");
    return problems;
}

}  // namespace rv::journal
