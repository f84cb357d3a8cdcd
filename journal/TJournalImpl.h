// The inside of the journal, shared by its writing and reading halves: the Qt SQL connection, the statements
// with their error messages, the write transaction and the record's columns. Not for use outside journal/.
#pragma once

#include "journal/TJournal.h"
#include "journal/WriterIdentity.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <initializer_list>
#include <set>
#include <string>

namespace rv::journal {

// The record's columns in the order of kRecordColumns; version 2's columns at the end.
enum ERecordColumn {
    rcId, rcRunId, rcState, rcStartedUtc, rcStartedOffset, rcEndedUtc, rcEndedOffset, rcUpdatedUtc,
    rcWriterHost, rcWriterProcess, rcTechnician, rcWorkstation, rcProgramVersion, rcPort,
    rcMeterSerial, rcModuleNumber, rcModuleExecution, rcMeterSoftware,
    rcSensorPosition, rcSensorType, rcSensorDesignation, rcSensorSerial, rcSensorDiameter, rcQVmax, rcKfs,
    rcReverse, rcExtraInfo, rcOutcome, rcProtocol, rcRepetitions, rcTimeouts, rcChecksumFailures,
    rcAirTemperature, rcHumidity, rcPressure, rcConditionsOther, rcVerificationType, rcOwner, rcModel,
    rcModification, rcManufactureYear,
    rcCount
};
extern const char* const kRecordColumns[rcCount];

// The stored names of the states and point verdicts.
const char* StoredState(ERunState state);
const char* StoredVerdict(EPointVerdict verdict);

// Text for the database: cut to maxBytes at a character boundary, invalid UTF-8 replaced, NUL bytes dropped
// (PostgreSQL refuses them).
QString ToDb(const std::string& text, size_t maxBytes = TJournal::kMaxFieldBytes);
// Text from the database, cut to maxBytes.
std::string FromDb(const QVariant& value, size_t maxBytes = TJournal::kMaxFieldBytes);

struct TJournal::Impl {
    SJournalLocation Location;
    QString ConnectionName;
    QSqlDatabase Db;
    int Version = 0;
    SWriter Writer;
    TJournal::Clock Clock;
    std::set<int64_t> Begun;  // begun here and not yet completed

    STimestamp Now() const { return Clock ? Clock() : LocalNow(); }
    EEngine Engine() const { return Location.Engine; }

    // A statement with its values bound in order, executed; throws EJournalError("what: reason").
    QSqlQuery Run(const QString& sql, std::initializer_list<QVariant> values, const std::string& what) const;
    [[noreturn]] void Fail(const std::string& what, const QSqlError& error) const;

    // The state to show for a stored one: a running record whose writer is gone is interrupted.
    ERunState Shown(const std::string& stored, const std::string& host, const std::string& process,
                    int64_t updatedUtcMs) const;
    void ReadRecord(const QSqlQuery& q, SVerificationRecord& r, bool withProtocol) const;
    std::vector<SVerificationPoint> ReadPoints(int64_t id, const std::string& what) const;
};

// One write: BEGIN IMMEDIATE on SQLite (the write lock is taken at once, so two writers queue on the busy
// timeout instead of failing on a lock upgrade), BEGIN on PostgreSQL; rolled back unless committed.
class TWriteTransaction {
public:
    TWriteTransaction(const TJournal::Impl& d, std::string what);
    ~TWriteTransaction();
    TWriteTransaction(const TWriteTransaction&) = delete;
    TWriteTransaction& operator=(const TWriteTransaction&) = delete;
    void Commit();

private:
    const TJournal::Impl& d_;
    std::string what_;
    bool open_ = false;
};

}  // namespace rv::journal
