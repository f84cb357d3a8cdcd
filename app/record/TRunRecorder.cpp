// The journal record of each verification run.
#include "app/record/TRunRecorder.h"

#include "journal/TJournal.h"
#include "meter/FlashAddress.h"
#include "meter/TRurIvaQs_6x6.h"

#include <unistd.h>

namespace rv {

namespace {

journal::SLineStatistics LineOf(const TFMainController& controller)
{
    const SLineStatistics& s = controller.LineStatistics();
    journal::SLineStatistics line;
    line.Repetitions = static_cast<int64_t>(s.Repetitions);
    line.Timeouts = static_cast<int64_t>(s.TimeOuts);
    line.ChecksumFailures = static_cast<int64_t>(s.FalseCRC);
    return line;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

std::string HostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

journal::SVerificationPoint PointOf(const SRunPoint& p)
{
    journal::SVerificationPoint point;
    point.Direction = p.Reverse ? journal::EDirection::Reverse : journal::EDirection::Forward;
    point.Nominal = p.Nominal;
    point.Set = p.Set;
    point.Measured = p.Measured;
    point.RelativeError = p.Relative;
    point.AllowedError = p.Allowed;
    point.NotCheckedReason = p.NotChecked;
    return point;
}

}  // namespace

TRunRecorder::TRunRecorder(TFMainController& controller, journal::TJournal& journal, SRunRecordContext context)
    : controller_(controller), journal_(journal), context_(std::move(context))
{
    controller_.OnRunEvent = Bind(this, &TRunRecorder::RunEvent);
}

TRunRecorder::~TRunRecorder()
{
    controller_.OnRunEvent = nullptr;
}

journal::SVerificationRecord TRunRecorder::Describe(const TFMainController& controller,
                                                    const SRunRecordContext& context)
{
    const SMainFields f = controller.Fields();
    const SMainView& view = controller.View();
    journal::SVerificationRecord r;
    r.Technician = context.Technician;
    r.Workstation = context.Workstation.empty() ? HostName() : context.Workstation;
    r.ProgramVersion = context.ProgramVersion;
    r.Port = controller.PortName();
    r.Meter.Serial = std::to_string(f.MeterSerial);
    r.Meter.ModuleNumber = f.ModuleNumber;
    r.Meter.Execution = ExecutionOf(controller.ConfigImage(), f.ModuleNumber).value_or(0);
    r.Meter.SoftwareVersion = std::to_string(f.SoftwareVersion);
    const TSensorImages& images = controller.SensorImage();
    const SSensorRecord sensor = SSensorRecord::Decode(images[static_cast<size_t>(f.SelectedSensor)]);
    r.Sensor.Position = f.SelectedSensor;
    r.Sensor.Type = SensorTypeName(sensor.Type);
    r.Sensor.Designation = SensorDesignation(sensor, f.PathsPerSensor);
    r.Sensor.Serial = sensor.Serial;
    r.Sensor.Diameter = static_cast<double>(sensor.Diameter);
    r.Sensor.QVmax = sensor.QVmax;
    r.Sensor.Kfs = sensor.KfsText;
    // A large sensor keeps its three coefficients in its record and the two after it, as the header prints them.
    if (static_cast<double>(sensor.Diameter) >= kThreePathDiameter) {
        for (int j = 1; j < 3 && f.SelectedSensor + j < flash::kSensorCount; ++j)
            r.Sensor.Kfs += "; " + SSensorRecord::Decode(images[static_cast<size_t>(f.SelectedSensor + j)]).KfsText;
    }
    r.Reverse = view.ChB_backChecked;
    r.ExtraInfo = view.ChBDopInfoChecked;
    r.Conditions = context.Conditions;
    r.VerificationType = context.VerificationType;
    r.Owner = context.Owner;
    r.Protocol = Joined(controller.RunProtocol());
    r.Line = LineOf(controller);
    return r;
}

journal::SVerificationRecord TRunRecorder::Snapshot(const TFMainController& controller,
                                                    const SRunRecordContext& context)
{
    journal::SVerificationRecord r = Describe(controller, context);
    for (const SRunPoint& p : controller.View().RunPoints) {
        journal::SVerificationPoint point = PointOf(p);
        point.Verdict = journal::JudgePoint(point);
        r.Points.push_back(point);
    }
    const bool completed = controller.RunCompleted();
    const journal::SVerdict verdict = journal::JudgeRun(r.Points, completed, r.Reverse,
                                                        completed ? std::string() : controller.StopReason());
    r.State = verdict.State;
    r.Outcome = verdict.Outcome;
    const std::string& remarks = controller.Fields().KfsMismatch;
    if (!remarks.empty()) r.Outcome += (r.Outcome.empty() ? "" : "; ") + remarks;
    r.Started = journal::LocalNow();
    r.Ended = r.Started;
    return r;
}

void TRunRecorder::Failed(const std::exception& error)
{
    if (failed_) return;
    failed_ = true;
    OnError(std::string("Журнал поверок: ") + error.what());
}

void TRunRecorder::RunEvent(TFMainController::TRunEvent event)
{
    try {
        switch (event) {
            case TFMainController::reStarted: {
                failed_ = false;
                open_ = false;
                verdict_.reset();
                journal::SVerificationRecord record = Describe(controller_, context_);
                id_ = journal_.Begin(record);
                open_ = true;
                break;
            }
            case TFMainController::rePoint:
                if (!open_ || controller_.View().RunPoints.empty()) break;
                journal_.AppendPoint(id_, PointOf(controller_.View().RunPoints.back()));
                // The protocol so far and a sign of life: a record whose writer vanished reads as interrupted.
                journal_.SaveProgress(id_, Joined(controller_.RunProtocol()), LineOf(controller_));
                break;
            case TFMainController::reEnded: {
                if (!open_) break;
                open_ = false;
                journal::SRunEnd end;
                end.Ended = journal::LocalNow();
                end.Completed = controller_.RunCompleted();
                end.StopReason = end.Completed ? std::string() : controller_.StopReason();
                end.Remarks = controller_.Fields().KfsMismatch;
                end.Protocol = Joined(controller_.RunProtocol());
                end.Line = LineOf(controller_);
                verdict_ = journal_.Complete(id_, end);
                OnRecorded(id_);
                break;
            }
        }
    } catch (const std::exception& e) {
        if (event == TFMainController::reEnded) open_ = false;
        Failed(e);
    }
}

}  // namespace rv
