// The test points: for each required flow the delay pattern, the set flow, the flow the meter shows for it
// from the swept readings corrected for the flow profile, and the result lines of the protocol.
#include "app/verify/TVerificationRun.h"

#include "app/verify/FlowTables.h"
#include "app/verify/TFlowMath.h"
#include "app/verify/TMainPage.h"
#include "app/window/IPrompter.h"
#include "app/window/MeterImages.h"
#include "app/window/ProtocolFormat.h"
#include "controls/Errors.h"
#include "controls/NumberText.h"
#include "core/Locale.h"
#include "core/TTimer.h"
#include "meter/TRurIvaQs_6x6.h"
#include "protocol/Frame.h"

#include <cmath>
#include <cstring>

namespace rv {

namespace {

constexpr long double kPi = 3.14159265358979L;

// The transit time and the geometry coefficient the model took from the sweep, when either cannot be used.
std::string UnusableModel(const TFlowMath& model)
{
    if (!(model.TransitTime > 0.0f) || !std::isfinite(model.TransitTime))
        return "Время прохождения ультразвука Tств по результатам развертки задержек недопустимо: " +
               ValueText(model.TransitTime) + " (КFS датчика " + ValueText(model.Kfs) + ").";
    if (!(model.Kv > 0.0f) || !std::isfinite(model.Kv))
        return "Коэффициент Kv недопустим: " + ValueText(model.Kv) + ".";
    return {};
}

}  // namespace

float TVerificationRun::RequiredFlow(int k) const
{
    const std::string& text = page_.View().EditDigitalText[static_cast<size_t>(k)];
    long double v = 0.0L;
    if (!ParseExtended(text, DecimalSeparator(), v))
        throw EConversionError("Значение \"" + text + "\" не является числом.");
    return static_cast<float>(v);
}

void TVerificationRun::TimerCalcChargeTimer(TObject*)
{
    Guarded([&] {
        TimerCalcCharge->Stop();
        if (!course_.Stopping && page_.Stage() == msSweeping) StartPointSeries();
    });
}

void TVerificationRun::StopSeries(const std::exception& error)
{
    prompter_.ShowException(error);
    Interrupt(error.what());
}

void TVerificationRun::StartPointSeries()
{
    run_.FwdFlows[0] = static_cast<float>(static_cast<long double>(run_.FwdFlows[0]) * 0.1L);
    run_.RevFlows[0] = run_.FwdFlows[0];
    points_.Skipped = 0;
    page_.SetStage(msPoints);
    points_.PointIndex = 0;
    EnterPhase(SRunCourse::phPoints);
    float first = 0.0f;
    try {
        first = RequiredFlow(0);
    } catch (const EConversionError& e) {
        StopSeries(e);
        return;
    }
    // The result lines rest on the sensor's correction and on the model of the sweep: a value of either that is no
    // number would reach the protocol.
    std::string unusable = CorrectionFault(ChosenSensor(), sensor_.SelectedSensor);
    // A refused first flow is reported by its point below; the model lines then show what it holds.
    if (unusable.empty() && first > 0.0f && std::isfinite(first)) {
        flowMath_->BuildPattern(first);
        unusable = UnusableModel(*flowMath_);
    }
    if (!unusable.empty()) {
        Fail(unusable + " Поверка остановлена.");
        return;
    }
    page_.AddLine("");
    if (page_.View().ChBDopInfoChecked && UnusableModel(*flowMath_).empty()) {
        page_.AddLine("Время прохождения ультразвука Tств=" + ExponentText(flowMath_->TransitTime, 4, 4) + "c");
        page_.AddLine("Коэффициент Kv = " + FixedText(flowMath_->Kv, 4));
        page_.AddLine("");
    }
    points_.PointIndex = 0;
    run_.ReverseActive = false;
    IgnoreAnswers();
    EvaluatePoint(0);
}

std::string TVerificationRun::RelativeErrorText() const
{
    const long double set = points_.SetFlow;
    return FixedText(static_cast<double>((set - points_.MeasuredFlow) / set * 100.0L), 3);
}

void TVerificationRun::EvaluatePoint(int k)
{
    if (k >= 1 && points_.Valid) {
        points_.Pending.Measured = FixedText(points_.MeasuredFlow, 4);
        points_.Pending.Relative = RelativeErrorText();
        points_.Pending.Allowed = FixedText(points_.AllowedErr, 1);
        page_.AddLine("Измеренное значение расхода " + points_.Pending.Measured + "м3/ч");
        page_.AddLine("Относительная погрешность измерения " + points_.Pending.Relative + "%");
        page_.AddLine("Допустимая погрешность измерения " + points_.Pending.Allowed + "%");
        page_.AddLine("");
        AddPoint(points_.Pending);
    }
    points_.Valid = false;
    if (k >= run_.PointCount || k >= kRequiredFlowFields) {
        FinishSeries();
        return;
    }

    const std::string text = page_.View().EditDigitalText[static_cast<size_t>(k)];
    float q = 0.0f;
    try {
        q = RequiredFlow(k);
    } catch (const EConversionError& e) {
        StopSeries(e);
        return;
    }
    if (!(q > 0.0f) || !std::isfinite(q)) {
        Fail("Требуемый расход \"" + text + "\" должен быть положительным числом. Поверка остановлена.");
        return;
    }
    const SPatternResult pattern = flowMath_->BuildPattern(q);
    page_.AddLine("Номинальное значение расхода " + text + "м3/ч");
    points_.Pending = SRunPoint{};
    points_.Pending.Reverse = run_.ReverseActive;
    points_.Pending.Nominal = text;
    if (!pattern.Ok()) {
        SkipPoint(k, pattern.Message);
        return;
    }
    points_.AllowedErr = AllowedError(q, sensor_.TableSet, sensor_.PathsPerSensor, run_.SizeIndex);
    points_.SetFlow = flowMath_->PatternFlow();
    if (!(points_.SetFlow > 0.0f) || !std::isfinite(points_.SetFlow)) {
        SkipPoint(k, "Задаваемый расход не определяется по модели датчика (" + ValueText(points_.SetFlow) + ")");
        return;
    }
    points_.Pending.Set = FixedText(points_.SetFlow, 4);
    std::string line = "Задаваемое значение расхода " + points_.Pending.Set + "м3/ч ";
    if (page_.View().ChBDopInfoChecked) {
        for (int m = 0; m <= run_.Mmax; ++m) {
            const uint32_t count = flowMath_->Pattern[static_cast<size_t>(m)];
            if (count != 0) line += "   m=" + std::to_string(m) + " S=" + std::to_string(count);
        }
    }
    page_.AddLine(line);
    ComputeCorrection();

    const TDelayTable& t = SweepTable();
    const long double top = points_.Correction[static_cast<size_t>(run_.Mmax)];
    long double sum = 0.0L;
    for (int m = 0; m <= run_.Mmax; ++m) {
        const auto i = static_cast<size_t>(m);
        if (flowMath_->Pattern[i] == 0) continue;
        sum += flowMath_->Pattern[i] * static_cast<long double>(t[i]) * top / points_.Correction[i];
    }
    points_.MeasuredFlow =
        static_cast<float>(sum / (static_cast<long double>(flowMath_->CountHigh) + flowMath_->CountLow));
    // A zero correction in the sensor record gives no number; nothing such goes to the meter.
    if (!std::isfinite(points_.MeasuredFlow)) {
        SkipPoint(k, "Расход не определяется по данным датчика и результатам развертки задержек");
        return;
    }
    points_.Valid = true;
    uint8_t bytes[4];
    uint32_t bits;
    std::memcpy(&bits, &points_.MeasuredFlow, sizeof bits);
    PutU32(bytes, bits);
    Net().WriteRAM(run_.RamPointers.Word[SPointerRAM::kEmulatorDelay], sizeof bytes, bytes);
    TimerShow->SetEnabled(true);
}

void TVerificationRun::AddPoint(SRunPoint point)
{
    page_.View().RunPoints.push_back(std::move(point));
    page_.Notify(vcPoints);
    OnPoint();
}

void TVerificationRun::SkipPoint(int k, const std::string& reason)
{
    ++points_.Skipped;
    Advance(course_.Line.Point());
    prompter_.Message("Точка " + std::to_string(k + 1) + ": " + reason + ".", "Ошибка");
    page_.AddLine("Точка не проверена: " + reason);
    page_.AddLine("");
    SRunPoint skipped;
    skipped.Reverse = points_.Pending.Reverse;
    skipped.Nominal = points_.Pending.Nominal;
    skipped.NotChecked = reason;
    AddPoint(std::move(skipped));
    points_.PointIndex = k + 1;
    EvaluatePoint(points_.PointIndex);
}

void TVerificationRun::FinishSeries()
{
    if (!run_.ReverseActive && page_.View().ChB_backChecked && run_.ReverseSwept) {
        points_.PointIndex = 0;
        run_.ReverseActive = true;
        IgnoreAnswers();
        Advance(0.0);
        EvaluatePoint(0);
        return;
    }
    page_.View().ChBDopInfoChecked = false;
    page_.Notify(vcControls);
    Complete();
    page_.SetStage(msDone);
}

void TVerificationRun::TimerShowTimer(TObject*)
{
    Guarded([&] {
        TimerShow->Stop();
        if (course_.Stopping || page_.Stage() != msPoints) return;
        Advance(course_.Line.Point());
        ++points_.PointIndex;
        EvaluatePoint(points_.PointIndex);
    });
}

void TVerificationRun::ComputeCorrection()
{
    const SSensorRecord sensor = ChosenSensor();
    const TDelayTable& t = SweepTable();
    const long double d = flowMath_->PipeDiameter;
    const long double tw = 0.01L * flowMath_->WaterTemp;
    const long double shape = 1.0L + 0.3L * (1.0L - static_cast<long double>(sensor.Diameter2) / sensor.Diameter);
    for (int m = 0; m <= run_.Mmax; ++m) {
        long double v = std::fabs(t[static_cast<size_t>(m)] / (kPi * 900.0L * d * d));
        if (!(v >= 0.007L)) v = 0.007L;
        if (v > 7.5L) v = 7.5L;
        const long double x = std::log10(d * v);
        const long double y = 5.754824L + x + 1.296501L * tw - 0.657286L * tw * tw + 0.140989L * tw * tw * tw;
        int segment = 4;
        for (int j = 0; j < SSensorRecord::kThresholds; ++j) {
            if (y < sensor.Thresholds[j]) {
                segment = j;
                break;
            }
        }
        const float* abc = sensor.Correction[segment];
        points_.Correction[static_cast<size_t>(m)] = static_cast<float>((abc[0] + abc[1] * y + abc[2] * y * y) * shape);
    }
}

}  // namespace rv
