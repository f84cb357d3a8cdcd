// The runner's command line: the options both jobs share, those of the verification and those of the KFS write,
// parsed in one place (QCommandLineParser) with the errors in the technician's words, and the generated help.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rv {

// What every job of the runner takes.
struct SRunnerOptions {
    std::string Port;        // --port NAME: the first one given
    std::vector<std::string> Ports;  // every --port NAME, in order (more than one make a bench)
    bool Simulate = false;   // --simulate
    int SimulateCount = 1;   // --simulate N: N simulated meters (more than one make a bench)
    std::string MeterFile;   // --meter FILE, with --simulate
    bool AnswerYes = false;  // --answer yes|no
    bool Trace = false;      // --trace
    int TimeoutSeconds = 0;  // --timeout SECONDS: the whole job at most; 0 for no limit
    bool Help = false;       // --help
    bool Version = false;    // --version
};

// The verification.
struct SVerifyOptions : SRunnerOptions {
    std::optional<int> Sensor;  // --sensor N: position 0..5; the first offered when unset
    bool Reverse = false;       // --reverse
    bool ExtraInfo = false;     // --extra-info
    std::string Report;         // --report FILE
    // The journal: every run is recorded unless NoJournal.
    std::string Journal;        // --journal PATH|URL: empty takes the laboratory's, else the default file
    bool NoJournal = false;     // --no-journal
    std::string Technician;     // --technician NAME: empty takes the laboratory's
    std::optional<double> AirTemperature, Humidity, Pressure;  // --conditions T,H,P
    std::string Pdf;            // --pdf FILE: the printable protocol of the run
    // The bench: several meters verified at once.
    std::string Bench;          // --bench FILE: the meters, a line each
    std::string ReportDir;      // --report-dir DIR: each complete protocol to its own file there
};

// A bench holds at most this many meters (ports, bench file lines or simulated meters).
inline constexpr int kMaxSimulated = 64;
// The options ask for a bench: more than one port or simulated meter, a bench file or a report folder. Without
// them the verification is the one-meter job.
bool IsBench(const SVerifyOptions& options);

// The conditions "T,H,P" of --conditions (air temperature in deg C, relative humidity in %, pressure in kPa):
// separated by ';', or by ',' where that leaves no doubt; a field may be left empty. False with a message.
bool ParseConditions(const std::string& text, SVerifyOptions& options, std::string& error);
// True when the arguments ask for the printable protocol (the program then needs a graphical application).
bool WantsPdf(const std::vector<std::string>& args);

// The KFS write (--kfs-write N=VALUE[,VALUE,VALUE]).
struct SKfsWriteOptions {
    SRunnerOptions Common;
    int Position = 0;    // N
    std::string Values;  // the text after '='
};

// Splits the values of --kfs-write into the count the sensor takes. Values are separated by ';', or by ','
// where that leaves no doubt: "1.01,0.99,1.02" and "1,01,0,99,1,02" are three values, "1,01" is one.
bool SplitKfsValues(const std::string& text, int count, std::vector<std::string>& values, std::string& error);
// A report name the protocol can be saved under: not empty, not a folder nor another file that is no regular one,
// in a folder that exists and can be written. False with a message for the technician otherwise.
bool CheckReportFile(const std::string& path, std::string& error);

// True when the arguments ask for the KFS write rather than a verification.
bool WantsKfsWrite(const std::vector<std::string>& args);
// Parse the arguments after the program name; false with a message for the technician otherwise. --help and
// --version parse alone (the rest is not checked). The report file (CheckReportFile) and the KFS values (one or
// three coefficients the meter can take, CheckKfsValue) are checked here, before any port is opened.
bool ParseVerifyOptions(const std::vector<std::string>& args, SVerifyOptions& options, std::string& error);
bool ParseKfsWriteOptions(const std::vector<std::string>& args, SKfsWriteOptions& options, std::string& error);
// The help of the program, generated from its options, with the exit statuses.
std::string RunnerUsage();
// "rivanta-verify 0.1".
std::string RunnerVersion();

}  // namespace rv
