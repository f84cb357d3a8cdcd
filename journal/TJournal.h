// The verification journal: one record per run, created when the run begins and completed as it goes, kept
// in a SQLite file or a shared PostgreSQL database through one schema, and read back newest first.
#pragma once

#include "journal/JournalLocation.h"
#include "journal/JournalTypes.h"
#include "journal/Verdict.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rv::journal {

// Where a list goes on from: the last record of the page before (newest first).
struct SListCursor {
    int64_t StartedUtcMs = 0;
    int64_t Id = 0;
};

// Every call throws EJournalError with a Russian message when the database refuses it; nothing half-written
// stays behind, since every write is one transaction. A journal object belongs to the thread that opened it.
class TJournal {
public:
    // Longest text kept for a field, the outcome and the protocol; longer texts are cut (on write and on read).
    static constexpr size_t kMaxFieldBytes = 4096;
    static constexpr size_t kMaxOutcomeBytes = 64 * 1024;
    static constexpr size_t kMaxProtocolBytes = 4 * 1024 * 1024;
    static constexpr int kMaxPoints = 100;
    // A record in progress on another workstation that has not been written to for this long reads back as
    // interrupted (on this workstation the writer's process is asked directly).
    static constexpr int64_t kStaleAfterMs = 60LL * 60 * 1000;

    // Opens the journal at a path or a postgresql:// URL (empty: DefaultJournalPath()), creating it or bringing
    // an older one to the current schema. SQLite runs in WAL mode and waits up to kBusyTimeoutMs for another
    // writer.
    explicit TJournal(const std::string& location = {});
    // Records begun through this object and never completed are marked interrupted.
    ~TJournal();
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    static constexpr int kBusyTimeoutMs = 10000;

    const SJournalLocation& Location() const;
    int SchemaVersion() const;

    // Records the start of a run (state in progress) with the points it already holds; fills in Id, RunId
    // (when empty), State and Started (when not set) and returns the id.
    int64_t Begin(SVerificationRecord& record);
    // Adds a printed point to a run in progress; the journal judges it from its texts.
    void AppendPoint(int64_t id, const SVerificationPoint& point);
    // Keeps the protocol text and line statistics of a run in progress (also the writer's sign of life).
    void SaveProgress(int64_t id, const std::string& protocol, const SLineStatistics& line);
    // Ends a run: the verdict from the recorded points, the end time, the protocol and line statistics.
    SVerdict Complete(int64_t id, const SRunEnd& end);
    // The conditions of a record, entered or corrected at any time.
    void SetConditions(int64_t id, const SConditions& conditions);
    // The technician's details of a record (model, modification, year, kind, owner), entered or corrected at any
    // time.
    void SetDetails(int64_t id, const SRecordDetails& details);

    // Records newest first without points and protocol (the lists' rows), at most `limit` (bounded to 1000).
    std::vector<SVerificationRecord> List(const SJournalFilter& filter, int limit, int64_t offset = 0) const;
    std::vector<SVerificationRecord> ListAfter(const SJournalFilter& filter, const SListCursor& after,
                                               int limit) const;
    int64_t Count(const SJournalFilter& filter) const;
    // One record whole, or nullopt when there is none with this id.
    std::optional<SVerificationRecord> Get(int64_t id) const;

    // Empty when the database checks intact, else what its check found.
    std::string IntegrityProblems() const;

    // The wall clock of the stamps (UTC milliseconds and the local offset in minutes); replaced by tests.
    using Clock = std::function<STimestamp()>;
    void SetClock(Clock clock);

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};

// The current time with the local UTC offset.
STimestamp LocalNow();

}  // namespace rv::journal
