// The verification of the headless runner on the Qt event loop.
#include "app/runner/VerifyProgram.h"

#include "app/record/TRunRecorder.h"
#include "app/runner/BenchProgram.h"
#include "app/runner/RunnerOptions.h"
#include "app/runner/RunnerProgram.h"
#include "app/runner/THeadlessRun.h"
#include "app/runner/TVerifyRun.h"
#include "app/verify/TFMainController.h"
#include "core/qt/QtLoop.h"
#include "journal/DocumentText.h"
#include "journal/LaboratorySettings.h"
#include "journal/ProtocolPdf.h"
#include "journal/TJournal.h"
#include "serial/TNewDevCom.h"
#include "sim/PtyMeterServer.h"

#include <iostream>
#include <memory>

namespace rv {

namespace {

SRunRecordContext ContextOf(const SVerifyOptions& options, const journal::SLaboratorySettings& lab)
{
    SRunRecordContext context;
    context.Technician = options.Technician.empty() ? lab.Technician : options.Technician;
    context.ProgramVersion = RIVANTA_VERSION;
    context.Conditions = lab.DefaultConditions;
    if (options.AirTemperature) context.Conditions.AirTemperature = options.AirTemperature;
    if (options.Humidity) context.Conditions.Humidity = options.Humidity;
    if (options.Pressure) context.Conditions.Pressure = options.Pressure;
    return context;
}

// The printable protocol of the run: from the journal's record, or from the run itself without a journal.
bool WritePdf(const std::string& path, const TFMainController& controller, const TRunRecorder* recorder,
              journal::TJournal* journal, const SRunRecordContext& context, const journal::SLaboratorySettings& lab)
{
    try {
        std::optional<journal::SVerificationRecord> record;
        if (journal && recorder && recorder->RecordId() != 0) record = journal->Get(recorder->RecordId());
        if (!record) record = TRunRecorder::Snapshot(controller, context);
        journal::SaveDocument(path, journal::ProtocolPdf({*record}, lab));
        std::cerr << "rivanta-verify: протокол для печати сохранен в файл " << path << "\n";
        return true;
    } catch (const std::exception& e) {
        std::cerr << "rivanta-verify: протокол для печати не сохранен: " << e.what() << "\n";
        return false;
    }
}

}  // namespace

int RunVerifyProgram(const std::vector<std::string>& args)
{
    SVerifyOptions options;
    std::string error;
    const bool parsed = ParseVerifyOptions(args, options, error);
    if (const std::optional<int> exit = ArgumentsExit(parsed, error, options)) return *exit;

    const journal::SLaboratorySettings lab = journal::LoadLaboratorySettings(journal::LaboratorySettingsPath());
    const SRunRecordContext context = ContextOf(options, lab);
    std::unique_ptr<journal::TJournal> journal;
    if (!options.NoJournal) {
        try {
            journal = std::make_unique<journal::TJournal>(options.Journal.empty() ? lab.JournalLocation
                                                                                  : options.Journal);
        } catch (const std::exception& e) {
            std::cerr << "rivanta-verify: " << e.what() << "\n"
                      << "Поверка без журнала: --no-journal.\n";
            return veUsage;
        }
    }

    if (IsBench(options)) return RunBenchProgram(options, journal.get(), context);

    QtLoop loop;
    std::unique_ptr<sim::PtyMeterServer> server;
    std::string port;
    if (!PreparePort(options, server, port)) return veUsage;

    TNewDevCom link(nullptr, &loop);
    TVerifyRun run(options, std::cout, std::cerr);
    TFMainController controller(link, run, &loop);
    if (options.Trace) controller.SetTraceHook(TraceToStandardError());
    std::unique_ptr<TRunRecorder> recorder;
    bool recorded = true;
    if (journal) {
        recorder = std::make_unique<TRunRecorder>(controller, *journal, context);
        recorder->OnError = [&recorded](const std::string& message) {
            recorded = false;
            std::cerr << "rivanta-verify: " << message << "\n";
        };
        recorder->OnRecorded = [](int64_t id) {
            std::cerr << "rivanta-verify: поверка записана в журнал, протокол № " << id << "\n";
        };
    }
    int status = RunJob(run, [&] { run.Start(controller, loop, port); });
    if (!options.Pdf.empty() && !WritePdf(options.Pdf, controller, recorder.get(), journal.get(), context, lab) &&
        status == veComplete)
        status = veIncomplete;
    // A verification the journal did not take is not done: the laboratory's record of it is missing.
    if (!recorded && status == veComplete) status = veIncomplete;
    return status;
}

}  // namespace rv
