// The record of one verification run as the journal keeps it: plain structures the application fills without
// Qt types, the run's state and verdict, the filter of the journal's queries, and the journal's error class.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rv::journal {

// A moment with the UTC offset in force where it was taken, so a record read on another workstation still
// shows the local time of the run.
struct STimestamp {
    int64_t UtcMs = 0;       // milliseconds since 1970-01-01T00:00:00Z
    int OffsetMinutes = 0;   // local time minus UTC
};

enum class EDirection { Forward, Reverse };

enum class EPointVerdict {
    Pass,        // |relative error| <= allowed error, both as printed
    Fail,        // beyond the allowed error, or a printed figure that is not a number
    NotChecked,  // the point was refused ("Точка не проверена: ...") or its results were never printed
};

// One test point, its figures exactly as the protocol prints them ("12,1436", "-0,002", "1,5").
struct SVerificationPoint {
    EDirection Direction = EDirection::Forward;
    std::string Nominal;        // the required flow as typed, m3/h
    std::string Set;            // set flow, m3/h
    std::string Measured;       // measured flow, m3/h
    std::string RelativeError;  // %
    std::string AllowedError;   // %
    std::string NotCheckedReason;  // the reason printed after "Точка не проверена: "
    EPointVerdict Verdict = EPointVerdict::NotChecked;  // the journal judges it again from the texts
};

// The state of a run and, once it ended, its verdict.
enum class ERunState {
    InProgress,   // begun, its writer still at work
    Interrupted,  // begun, never completed, and its writer is gone (crash, power cut, killed program)
    Stopped,      // ended before its last point ("не завершена")
    Passed,       // completed, every point of every series within its allowed error ("годен")
    Failed,       // completed with a failing or unchecked point ("не годен")
};

struct SLineStatistics {
    int64_t Repetitions = 0;
    int64_t Timeouts = 0;
    int64_t ChecksumFailures = 0;
};

// The conditions of the verification as the technician enters them; an unset figure stays empty.
struct SConditions {
    std::optional<double> AirTemperature;  // deg C
    std::optional<double> Humidity;        // % relative
    std::optional<double> Pressure;        // kPa
    std::string Other;
};

struct SMeterIdentity {
    std::string Serial;
    int ModuleNumber = 0;
    int Execution = 0;
    std::string SoftwareVersion;
    std::string Model;         // the meter's model, the key of the laboratory's type registration numbers
    std::string Modification;  // as the registry names it
    std::optional<int> ManufactureYear;
};

struct SSensorIdentity {
    int Position = 0;         // 0..5
    std::string Type;         // "FSA", "FSB", "FSC"
    std::string Designation;  // as in the protocol header, e.g. "FS/A FS-25S"
    std::string Serial;
    double Diameter = 0.0;    // m
    std::string QVmax;        // as the meter holds it, m3/h
    std::string Kfs;          // one text, or the three of a large three-path sensor joined by "; "
};

enum class EVerificationType { First = 1, Periodic = 2 };

// What the technician tells of a record beside what the meter told: the meter's model (the key of its type's
// registration number), modification and year of manufacture for the registry, the kind of verification and the
// owner; empty fields take the laboratory's defaults where it has them.
struct SRecordDetails {
    std::string Model;
    std::string Modification;
    std::optional<int> ManufactureYear;
    std::optional<EVerificationType> VerificationType;
    std::string Owner;
};

// The whole record. Id and RunId are given by the journal when the run begins (RunId may be set beforehand).
struct SVerificationRecord {
    int64_t Id = 0;  // the protocol number
    std::string RunId;
    ERunState State = ERunState::InProgress;
    STimestamp Started;
    std::optional<STimestamp> Ended;
    std::string Technician;
    std::string Workstation;
    std::string ProgramVersion;
    std::string Port;
    SMeterIdentity Meter;
    SSensorIdentity Sensor;
    bool Reverse = false;
    bool ExtraInfo = false;
    std::vector<SVerificationPoint> Points;
    std::string Outcome;   // the failing points named, or the reason a run stopped
    std::string Protocol;  // the protocol text as the memo holds it, UTF-8, lines joined by '\n'
    SLineStatistics Line;
    SConditions Conditions;
    std::optional<EVerificationType> VerificationType;  // empty takes the laboratory's default
    std::string Owner;  // the meter's owner; empty takes the laboratory's default
};

// How a run ended, given to the journal when it completes.
struct SRunEnd {
    STimestamp Ended;
    bool Completed = false;  // the last point of the last series was printed
    std::string StopReason;  // why a run that did not complete stopped
    std::string Remarks;     // what the run noticed beside its verdict (a KFS text that disagrees with the number)
    std::string Protocol;
    SLineStatistics Line;
};

enum class EVerdictFilter { Any, Passed, Failed, NotCompleted };

// What the journal's lists show: every condition set narrows the list; times are UTC milliseconds.
struct SJournalFilter {
    std::string MeterSerial;  // exact
    std::string Technician;   // exact
    std::optional<int64_t> SinceUtcMs;  // started at or after
    std::optional<int64_t> UntilUtcMs;  // started before
    EVerdictFilter Verdict = EVerdictFilter::Any;
};

// A journal that cannot be opened, read or written, or a document that cannot be made; the message is for the
// technician (Russian) and names what failed.
class EJournalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace rv::journal
