// The test points: for each required flow the delay pattern, the set flow, the flow the meter shows for it
// from the swept readings corrected for the flow profile, and the result lines of the protocol.
#include "app/verify/TFMainController.h"

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

}  // namespace

float TFMainController::RequiredFlow(int k) const
{
    const std::string& text = view_.EditDigitalText[static_cast<size_t>(k)];
    long double v = 0.0L;
    if (!ParseExtended(text, DecimalSeparator(), v))
        throw EConversionError("Значение \"" + text + "\" не является числом.");
    return static_cast<float>(v);
}

void TFMainController::TimerCalcChargeTimer(TObject*)
{
    Guarded([&] {
        TimerCalcCharge->Stop();
        if (stage_ == msSweeping) StartPointSeries();
    });
}

void TFMainController::StopSeries(const std::exception& error)
{
    prompter_.ShowException(error);
    stopReason_ = error.what();
    stage_ = msStopped;
    Notify(vcStage);
}

void TFMainController::StartPointSeries()
{
    f_.FwdFlows[0] = static_cast<float>(static_cast<long double>(f_.FwdFlows[0]) * 0.1L);
    f_.RevFlows[0] = f_.FwdFlows[0];
    skippedPoints_ = 0;
    SetStage(msPoints);
    float first = 0.0f;
    try {
        first = RequiredFlow(0);
    } catch (const EConversionError& e) {
        StopSeries(e);
        return;
    }
    // A refused first flow is reported by its point below; the model lines then show what it holds.
    if (first > 0.0f && std::isfinite(first)) flowMath_->BuildPattern(first);
    AddLine("");
    if (view_.ChBDopInfoChecked) {
        AddLine("Время прохождения ультразвука Tств=" + ExponentText(flowMath_->TransitTime, 4, 4) + "c");
        AddLine("Коэффициент Kv = " + FixedText(flowMath_->Kv, 4));
        AddLine("");
    }
    SetProgress(0, 40, 0);
    f_.PointIndex = 0;
    f_.ReverseActive = false;
    net_->OnReceiveExecuted = Bind(this, &TFMainController::IgnoreAnswer);
    EvaluatePoint(0);
}

std::string TFMainController::RelativeErrorText() const
{
    const long double set = f_.SetFlow;
    return FixedText(static_cast<double>((set - f_.MeasuredFlow) / set * 100.0L), 3);
}

void TFMainController::EvaluatePoint(int k)
{
    if (k >= 1 && pointValid_) {
        AddLine("Измеренное значение расхода " + FixedText(f_.MeasuredFlow, 4) + "м3/ч");
        AddLine("Относительная погрешность измерения " + RelativeErrorText() + "%");
        AddLine("Допустимая погрешность измерения " + FixedText(f_.AllowedErr, 1) + "%");
        AddLine("");
    }
    pointValid_ = false;
    if (k >= f_.PointCount || k >= kRequiredFlowFields) {
        FinishSeries();
        return;
    }

    const std::string text = view_.EditDigitalText[static_cast<size_t>(k)];
    float q = 0.0f;
    try {
        q = RequiredFlow(k);
    } catch (const EConversionError& e) {
        StopSeries(e);
        return;
    }
    if (!(q > 0.0f) || !std::isfinite(q)) {
        Stop("Требуемый расход \"" + text + "\" должен быть положительным числом. Поверка остановлена.");
        return;
    }
    const SPatternResult pattern = flowMath_->BuildPattern(q);
    AddLine("Номинальное значение расхода " + text + "м3/ч");
    if (!pattern.Ok()) {
        SkipPoint(k, pattern.Message);
        return;
    }
    f_.AllowedErr = AllowedError(q);
    f_.SetFlow = flowMath_->PatternFlow();
    std::string line = "Задаваемое значение расхода " + FixedText(f_.SetFlow, 4) + "м3/ч ";
    if (view_.ChBDopInfoChecked) {
        for (int m = 0; m <= f_.Mmax; ++m) {
            const uint32_t count = flowMath_->Pattern[static_cast<size_t>(m)];
            if (count != 0) line += "   m=" + std::to_string(m) + " S=" + std::to_string(count);
        }
    }
    AddLine(line);
    ComputeCorrection();

    const TDelayTable& t = SweepTable();
    const long double top = f_.Correction[static_cast<size_t>(f_.Mmax)];
    long double sum = 0.0L;
    for (int m = 0; m <= f_.Mmax; ++m) {
        const auto i = static_cast<size_t>(m);
        if (flowMath_->Pattern[i] == 0) continue;
        sum += flowMath_->Pattern[i] * static_cast<long double>(t[i]) * top / f_.Correction[i];
    }
    f_.MeasuredFlow = static_cast<float>(sum / (static_cast<long double>(flowMath_->CountHigh) + flowMath_->CountLow));
    // A zero correction or diameter in the sensor record gives no number; nothing such goes to the meter.
    if (!std::isfinite(f_.MeasuredFlow) || !(f_.SetFlow > 0.0f) || !std::isfinite(f_.SetFlow)) {
        SkipPoint(k, "Расход не определяется по данным датчика и результатам развертки задержек");
        return;
    }
    pointValid_ = true;
    uint8_t bytes[4];
    uint32_t bits;
    std::memcpy(&bits, &f_.MeasuredFlow, sizeof bits);
    PutU32(bytes, bits);
    net_->WriteRAM(f_.RamPointers.Word[SPointerRAM::kEmulatorDelay], sizeof bytes, bytes);
    Arm(*TimerShow);
}

void TFMainController::SkipPoint(int k, const std::string& reason)
{
    ++skippedPoints_;
    prompter_.Message("Точка " + std::to_string(k + 1) + ": " + reason + ".", "Ошибка");
    AddLine("Точка не проверена: " + reason);
    AddLine("");
    f_.PointIndex = k + 1;
    EvaluatePoint(f_.PointIndex);
}

void TFMainController::FinishSeries()
{
    if (!f_.ReverseActive && view_.ChB_backChecked && reverseSwept_) {
        f_.PointIndex = 0;
        f_.ReverseActive = true;
        net_->OnReceiveExecuted = Bind(this, &TFMainController::IgnoreAnswer);
        EvaluatePoint(0);
        return;
    }
    view_.ChBDopInfoChecked = false;
    ControlsChanged();
    SetStage(msDone);
}

void TFMainController::TimerShowTimer(TObject*)
{
    Guarded([&] {
        TimerShow->Stop();
        if (stage_ != msPoints) return;
        ++f_.PointIndex;
        EvaluatePoint(f_.PointIndex);
    });
}

void TFMainController::ComputeCorrection()
{
    const SSensorRecord sensor = ChosenSensor();
    const TDelayTable& t = SweepTable();
    const long double d = flowMath_->PipeDiameter;
    const long double tw = 0.01L * flowMath_->WaterTemp;
    const long double shape = 1.0L + 0.3L * (1.0L - static_cast<long double>(sensor.Diameter2) / sensor.Diameter);
    for (int m = 0; m <= f_.Mmax; ++m) {
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
        f_.Correction[static_cast<size_t>(m)] = static_cast<float>((abc[0] + abc[1] * y + abc[2] * y * y) * shape);
    }
}

void TFMainController::IgnoreAnswer(short, unsigned char*) {}

}  // namespace rv
