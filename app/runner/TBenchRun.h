// The bench job of the headless runner: every meter of the bench started at once on the one loop and followed
// together; the course of each on the log stream under its port, the progress of all in one line on a terminal; at
// the end the protocols (unless each went to its file) and a summary table on the output stream, and the most
// serious outcome as the exit status. Without Qt, so the whole job is tested in virtual time.
#pragma once

#include "app/bench/TBench.h"
#include "app/runner/RunnerOptions.h"
#include "app/runner/THeadlessRun.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace rv {

class Loop;
class TObject;
class TTimer;

class TBenchRun : public THeadlessRun {
public:
    // The meters the options name: each --port, then each line of the bench file, with the options every meter
    // gets; false with a message when the bench file is refused, a port is given twice or there are too many.
    static bool MetersOf(const SVerifyOptions& options, std::vector<SBenchMeterOptions>& meters, std::string& error);

    TBenchRun(std::vector<SBenchMeterOptions> meters, const SVerifyOptions& options, std::ostream& out,
              std::ostream& log);
    ~TBenchRun() override;

    // Starts every meter over a link of makeLink's; each run gets its record in journal unless it is null. The
    // job then goes on in the loop; OnFinished tells when every meter is over.
    void Start(Loop& loop, TBench::TLinkMaker makeLink, journal::TJournal* journal, const SRunRecordContext& context);
    // The bench; null before Start.
    TBench* Bench() { return bench_.get(); }
    // Port, meter serial number, sensor, verdict and duration of every meter, a line each under a heading.
    std::string Summary() const;

    // Every meter is stopped as by its "Стоп" (each switches its emulation off); the job ends once all have.
    void Stop(const std::string& reason) override;
    // IPrompter: the meters answer for themselves; the job itself is asked nothing.
    bool Question(const std::string& text, const std::string& caption) override;
    std::optional<int> ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices) override;
    std::optional<std::string> SaveFileName(const SSaveDialog& dialog) override;
    void ShowException(const std::exception& error) override;

private:
    void Release(std::function<void()> done) override;
    void AllReleased();
    void ShowProgress();
    void TimeLimit(TObject* Sender);

    std::vector<SBenchMeterOptions> meters_;
    SVerifyOptions options_;
    std::ostream& out_;
    std::unique_ptr<TBench> bench_;
    std::unique_ptr<TTimer> timeLimit_;
    bool stopped_ = false;
    int shownPermille_ = -1;
};

}  // namespace rv
