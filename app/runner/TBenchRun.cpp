// The bench job of the headless runner.
#include "app/runner/TBenchRun.h"

#include "app/bench/BenchFile.h"
#include "core/Loop.h"
#include "core/TTimer.h"
#include "protocol/TraceFormat.h"

#include <algorithm>
#include <cstdio>

namespace rv {

namespace {

static_assert(kMaxBenchMeters == static_cast<size_t>(kMaxSimulated), "one limit of a bench");

// Characters, not bytes: the table's columns line up on a terminal.
size_t Width(const std::string& text)
{
    size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

std::string Duration(uint64_t ms)
{
    const uint64_t s = ms / 1000;
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%u:%02u:%02u", static_cast<unsigned>(s / 3600),
                      static_cast<unsigned>(s / 60 % 60), static_cast<unsigned>(s % 60));
    else
        std::snprintf(text, sizeof text, "%02u:%02u", static_cast<unsigned>(s / 60), static_cast<unsigned>(s % 60));
    return text;
}

}  // namespace

bool TBenchRun::MetersOf(const SVerifyOptions& options, std::vector<SBenchMeterOptions>& meters, std::string& error)
{
    SBenchMeterOptions common;
    common.Sensor = options.Sensor;
    common.Reverse = options.Reverse;
    common.ExtraInfo = options.ExtraInfo;
    common.AnswerYes = options.AnswerYes;
    meters.clear();
    for (const std::string& port : options.Ports) {
        meters.push_back(common);
        meters.back().Port = port;
    }
    if (!options.Bench.empty()) {
        std::vector<SBenchMeterOptions> listed;
        if (!ReadBenchFile(options.Bench, common, listed, error)) return false;
        meters.insert(meters.end(), listed.begin(), listed.end());
    }
    if (meters.size() > kMaxBenchMeters) {
        error = "Стенд - не более " + std::to_string(kMaxBenchMeters) + " приборов.";
        return false;
    }
    return DistinctPorts(meters, error);
}

TBenchRun::TBenchRun(std::vector<SBenchMeterOptions> meters, const SVerifyOptions& options, std::ostream& out,
                     std::ostream& log)
    : THeadlessRun(log), meters_(std::move(meters)), options_(options), out_(out)
{
}

TBenchRun::~TBenchRun()
{
    if (timeLimit_) timeLimit_->Stop();
    bench_.reset();
}

void TBenchRun::Start(Loop& loop, TBench::TLinkMaker makeLink, journal::TJournal* journal,
                      const SRunRecordContext& context)
{
    loop_ = &loop;
    bench_ = std::make_unique<TBench>(loop, std::move(makeLink));
    for (const SBenchMeterOptions& m : meters_) bench_->Add(m);
    bench_->SetReportDir(options_.ReportDir);
    if (journal) bench_->SetJournal(journal, context);
    bench_->OnLog = [this](size_t i, const SBenchLogLine& line) { Log(bench_->Options(i).Port + ": " + line.Text); };
    bench_->OnChanged = [this](size_t, TViewChange change) {
        if (change == vcProgress) ShowProgress();
    };
    bench_->OnState = [this](size_t) { ShowProgress(); };
    bench_->OnAllReleased = [this] { AllReleased(); };
    if (options_.Trace)
        bench_->OnMeterMade = [this](size_t i, TBenchMeter& meter) {
            const std::string port = bench_->Options(i).Port;
            meter.Controller().SetTraceHook([this, port](const TraceRecord& r) { Log(port + ": " + FormatTraceRecord(r)); });
        };
    if (options_.TimeoutSeconds > 0) {
        timeLimit_ = MakeTimer(loop, "TimeLimit", static_cast<uint32_t>(options_.TimeoutSeconds) * 1000u);
        timeLimit_->OnTimer = Bind(this, &TBenchRun::TimeLimit);
        timeLimit_->Start();
    }
    Log("Стенд: приборов " + std::to_string(meters_.size()) + ", поверка всех одновременно" +
        (options_.Reverse ? ", с потоком в обратном направлении" : ""));
    bench_->StartAll();
}

void TBenchRun::TimeLimit(TObject*)
{
    timeLimit_->Stop();
    Stop("истекло время работы, " + std::to_string(options_.TimeoutSeconds) + " с");
}

void TBenchRun::Stop(const std::string& reason)
{
    if (finished_ || stopped_ || !bench_) return;
    stopped_ = true;
    Log("Остановка стенда: " + reason);
    bench_->StopAll(reason);
}

void TBenchRun::ShowProgress()
{
    if (finished_ || !bench_) return;
    int sum = 0, running = 0, complete = 0, ended = 0;
    for (size_t i = 0; i < bench_->Count(); ++i) {
        const TBenchMeter* m = bench_->Meter(i);
        if (!m || !m->Finished()) {
            ++running;
            sum += m ? m->Controller().View().ProgressBar3Position : 0;
            continue;
        }
        sum += 1000;
        ++(m->Outcome() == boComplete ? complete : ended);
    }
    const int permille = bench_->Count() ? sum / static_cast<int>(bench_->Count()) : 0;
    if (permille == shownPermille_ && running > 0) return;
    shownPermille_ = permille;
    Progress(permille, "стенд: в работе " + std::to_string(running) + ", завершено " + std::to_string(complete) +
                           ", прервано " + std::to_string(ended));
}

std::string TBenchRun::Summary() const
{
    std::vector<std::vector<std::string>> rows = {{"Порт", "Счетчик", "Датчик", "Итог", "Время"}};
    for (size_t i = 0; bench_ && i < bench_->Count(); ++i) {
        const TBenchMeter* m = bench_->Meter(i);
        const std::string serial = m ? m->MeterSerial() : std::string();
        const std::string sensor = m ? m->SensorSize() : std::string();
        rows.push_back({bench_->Options(i).Port, serial.empty() ? "-" : serial, sensor.empty() ? "-" : sensor,
                        m && m->Finished() ? m->Verdict() : "не завершена", Duration(m ? m->DurationMs() : 0)});
    }
    std::vector<size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Width(row[c]));
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - Width(row[c]) + 2, ' ');
        }
        table += line + "\n";
    }
    return table;
}

void TBenchRun::AllReleased()
{
    if (finished_) return;
    if (timeLimit_) timeLimit_->Stop();
    // The protocols went to their files, or they come here one after another, each under its port.
    if (options_.ReportDir.empty()) {
        for (size_t i = 0; i < bench_->Count(); ++i) {
            const TBenchMeter* m = bench_->Meter(i);
            if (!m || m->Controller().View().Memo1Lines.empty()) continue;
            out_ << "=== " << bench_->Options(i).Port << " ===\n";
            for (const std::string& line : m->Controller().View().Memo1Lines) out_ << line << '\n';
            out_ << '\n';
        }
    }
    out_ << Summary() << std::flush;
    int complete = 0;
    for (size_t i = 0; i < bench_->Count(); ++i)
        if (bench_->Meter(i) && bench_->Meter(i)->Outcome() == boComplete && bench_->Meter(i)->Finished()) ++complete;
    Finish(bench_->Outcome(), "Стенд: полных протоколов " + std::to_string(complete) + " из " +
                                  std::to_string(bench_->Count()) + ".");
}

void TBenchRun::Release(std::function<void()> done)
{
    // Every meter has let its port go before the job ends.
    done();
}

bool TBenchRun::Question(const std::string&, const std::string&)
{
    return false;
}

std::optional<int> TBenchRun::ChooseSensor(TSensorDialog, const std::vector<SSensorChoice>&)
{
    return std::nullopt;
}

std::optional<std::string> TBenchRun::SaveFileName(const SSaveDialog&)
{
    return std::nullopt;
}

void TBenchRun::ShowException(const std::exception& error)
{
    Log(std::string("Ошибка: ") + error.what());
}

}  // namespace rv
