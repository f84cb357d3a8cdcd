// The verification run: the emulator check, the required flows, the zero and nominal measurements, the
// largest delay and the delay sweep in the forward and, when asked, the reverse direction.
#include "app/verify/TFMainController.h"

#include "app/verify/FlowTables.h"
#include "app/window/ProtocolFormat.h"
#include "core/TTimer.h"
#include "meter/TRurIvaQs_6x6.h"
#include "protocol/Frame.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rv {

namespace {

constexpr int kSamples = 20;   // samples of the zero and of the nominal measurement
constexpr int kFlowValue = 8;  // value 8 + channel of the last measurement: the flow reading
constexpr int kRawValue = 14;  // value 14 + channel: the raw reading
constexpr uint8_t kAckDone = 0xFF;
constexpr uint8_t kEmulationBits = 0x60;
// States of the measurement chain after the five of a run: switching off an emulator left on by a run that
// was given up, before the zero check.
constexpr int kRestoreRead = 6;
constexpr int kRestoreWrite = 7;

float F32At(const uint8_t* p)
{
    const uint32_t bits = GetU32(p);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace

void TFMainController::AbandonMeasurement()
{
    for (TTimer* t : {TimerEmitator.get(), TimerWork.get(), TransTimer.get(), TimerShow.get(), TimerCalcCharge.get()})
        t->Stop();
    net_->BreakTransmit();
    net_->AbandonRequest();
    net_->OnReceiveExecuted = Bind(this, &TFMainController::IgnoreAnswer);
    f_.RunState = -1;
    pointValid_ = false;
}

void TFMainController::Button1Click()
{
    Guarded([&] {
        // Nothing to verify before the header of this connection is out, and nothing may go to a closed port.
        if (!readoutDone_ || !link_.GetOpen()) return;
        AbandonMeasurement();
        f_.NominalMax = ChosenSensor().NominalMax;
        if (!flowMath_) flowMath_ = std::make_unique<TFlowMath>();
        f_.ReverseActive = false;
        // The raw readings are divided by it and the flow model takes its root and logarithm.
        if (!(f_.KfsValue > 0.0f) || !std::isfinite(f_.KfsValue)) {
            Stop("Недопустимый коэффициент KFS датчика: " + FixedText(f_.KfsValue, 7) + ". Поверка невозможна.");
            return;
        }
        f_.SizeIndex = SizeIndexOf(f_.NominalMax, [this](const std::string& text, const std::string& caption) {
            prompter_.Message(text, caption);
        });
        flowMath_->SizeIndex = f_.SizeIndex;
        flowMath_->PipeDiameter = tables::Diameter[static_cast<size_t>(f_.SizeIndex)];
        flowMath_->Kfs = f_.KfsValue;
        flowMath_->WaterTemp = 20.0f;
        f_.RunRequested = true;
        SetStage(msEmulatorCheck);
        Arm(*TimerEmitator);
    });
}

// --- Emulator check

void TFMainController::TimerEmitatorTimer(TObject*)
{
    Guarded([&] {
        TimerEmitator->Stop();
        net_->GetFPointerRAM(0);
    });
}

void TFMainController::Net_6x6PointerRAM(const SPointerRAM* PointerRAM)
{
    Guarded([&] {
        if (!PointerRAM || stage_ != msEmulatorCheck) return;
        f_.RamPointers = *PointerRAM;
        net_->GetFB_6x6();
    });
}

void TFMainController::Net_6x6FB6x6(const S6x6FlagsByte* pFB6x6)
{
    Guarded([&] {
        if (!pFB6x6 || stage_ != msEmulatorCheck) return;
        if (!pFB6x6->EmulatorMode()) {
            f_.EmulatorConfirmed = false;
            if (prompter_.Question("Для проверки войдите в режим имитатора.", "Внимание.")) {
                Arm(*TimerEmitator);
            } else {
                stopReason_ = "Прибор не в режиме имитатора: поверка отменена.";
                Arm(*TimerClose);
            }
            return;
        }
        f_.EmulatorConfirmed = true;
        view_.Button1Enabled = true;
        view_.ChB_backEnabled = true;
        ControlsChanged();
        if (f_.RunRequested) {
            SetStatus("Поверка датчика");
            SetStage(msMeasuring);
            Arm(*TimerWork);
        } else {
            SetStage(msReady);
        }
    });
}

// --- Required flows and the measurement chain

void TFMainController::FillRequiredFlows()
{
    using namespace tables;
    const auto i = static_cast<size_t>(f_.SizeIndex);
    auto& fields = view_.EditDigitalText;
    const auto put = [&fields](std::initializer_list<float> values) {
        size_t k = 0;
        for (float v : values) fields[k++] = FixedText(v, 4);
    };
    // Five points spaced evenly on a logarithmic scale from the top flow down to the bottom one.
    const auto geometric = [&](const TSizeTable& top, const TSizeTable& bottom) {
        const long double t = top[i];
        const auto r = static_cast<float>(std::sqrt(std::sqrt(t / bottom[i])));
        const long double rl = r;
        put({top[i], static_cast<float>(t / rl), static_cast<float>(t / (rl * rl)),
             static_cast<float>(t / (rl * rl * rl)), bottom[i]});
        f_.PointCount = 5;
    };
    switch (f_.TableSet) {
        case acClass2:
            if (f_.Paths == 3)
                geometric(B4, B1);
            else
                geometric(A4, A1);
            break;
        case acClass03:
            put({D3[i], D3[i], D3[i], D2[i]});
            f_.PointCount = 3;
            break;
        case acClass15:
            if (f_.Paths == 1)
                put({A4[i], A3[i], A2[i], A1[i]});
            else
                put({C4[i], C3[i], C2[i], C1[i]});
            f_.PointCount = 4;
            break;
        case acClass1:
            geometric(C4, C1);
            break;
        case acClassB:
            put({D3[i], D3[i], D2[i], D1[i]});
            f_.PointCount = 3;
            break;
        default:
            return;
    }
    Notify(vcEdits);
}

void TFMainController::TimerWorkTimer(TObject*)
{
    Guarded([&] {
        TimerWork->Stop();
        f_.NominalMax = ChosenSensor().NominalMax;
        f_.Paths = f_.PathsPerSensor;
        FillRequiredFlows();
        net_->OnReceiveExecuted = Bind(this, &TFMainController::RunAnswer);
        SetProgress(0, kSamples, 0);
        f_.SampleCount = 0;
        f_.ZeroFlowSum = 0.0f;
        // A run given up while the emulator was on left it on: the zero check would see its flow.
        if (emulatorOn_) {
            f_.RunState = kRestoreRead;
            net_->ReadRAM(f_.RamPointers.Word[SPointerRAM::kEmulator], static_cast<unsigned char>(f_.EmuBlock.size()));
            return;
        }
        f_.RunState = 0;
        net_->StartFlowCalculation(f_.ChannelMask);
    });
}

int TFMainController::EmuGroupOffset() const
{
    return f_.SelectedSensor * f_.PathsPerSensor >= 3 ? 4 : 0;
}

void TFMainController::RunAnswer(short Length, unsigned char* Buffer)
{
    Guarded([&] {
        if (stage_ != msMeasuring) return;
        switch (f_.RunState) {
            case 0:
            case 4:
                net_->GetLast();
                break;
            case 2: {
                const uint16_t emulator = f_.RamPointers.Word[SPointerRAM::kEmulator];
                if (!Buffer || Length < static_cast<short>(f_.EmuBlock.size())) {
                    // A short block would leave bytes of the block unknown that are written back below.
                    net_->ReadRAM(emulator, static_cast<unsigned char>(f_.EmuBlock.size()));
                    break;
                }
                std::copy(Buffer, Buffer + f_.EmuBlock.size(), f_.EmuBlock.begin());
                f_.RunState = 3;
                const int g = EmuGroupOffset();
                f_.EmuBlock[static_cast<size_t>(g)] = 4;
                f_.EmuBlock[static_cast<size_t>(g + 1)] |= kEmulationBits;
                net_->WriteRAM(emulator, static_cast<unsigned char>(f_.EmuBlock.size()), f_.EmuBlock.data());
                emulatorOn_ = true;
                f_.SampleCount = 0;
                f_.NominalSum = 0.0f;
                break;
            }
            case 3:
                f_.RunState = 4;
                net_->StartFlowCalculation(f_.ChannelMask);
                break;
            case kRestoreRead:
                if (!Buffer || Length < static_cast<short>(f_.EmuBlock.size())) {
                    net_->ReadRAM(f_.RamPointers.Word[SPointerRAM::kEmulator],
                                  static_cast<unsigned char>(f_.EmuBlock.size()));
                    break;
                }
                std::copy(Buffer, Buffer + f_.EmuBlock.size(), f_.EmuBlock.begin());
                f_.RunState = kRestoreWrite;
                EmulationOff();
                break;
            case kRestoreWrite:
                emulatorOn_ = false;
                f_.RunState = 0;
                net_->StartFlowCalculation(f_.ChannelMask);
                break;
            default:
                break;
        }
    });
}

void TFMainController::Net_6x6Last(const SLastMeasure* Last)
{
    Guarded([&] {
        if (!Last || stage_ != msMeasuring) return;
        const int s = f_.SelectedSensor;
        if (f_.RunState == 0) {
            long double sum = f_.ZeroFlowSum;
            for (int c = 0; c < f_.Paths; ++c) sum += Last->Value[kFlowValue + s + c];
            f_.ZeroFlowSum = static_cast<float>(sum);
            ++f_.SampleCount;
            SetProgressPosition(f_.SampleCount);
            if (f_.SampleCount < kSamples) {
                net_->StartFlowCalculation(f_.ChannelMask);
                return;
            }
            f_.ZeroFlowSum = static_cast<float>(static_cast<long double>(f_.ZeroFlowSum) / kSamples / f_.Paths);
            // A reading that is no number is no proof of standing water either.
            if (!(std::fabs(static_cast<double>(f_.ZeroFlowSum)) <= 0.05)) {
                f_.RunState = -1;
                net_->OnReceiveExecuted = Bind(this, &TFMainController::IgnoreAnswer);
                Stop("Обнаружено движение жидкости\nустановите гидроноль");
                return;
            }
            f_.RunState = 1;
            f_.RunState = 2;
            SetProgress(0, kSamples, 0);
            net_->ReadRAM(f_.RamPointers.Word[SPointerRAM::kEmulator], static_cast<unsigned char>(f_.EmuBlock.size()));
        } else if (f_.RunState == 4) {
            long double sum = f_.NominalSum;
            for (int c = 0; c < f_.Paths; ++c)
                sum += static_cast<long double>(Last->Value[kRawValue + s + c]) / f_.KfsValue;
            f_.NominalSum = static_cast<float>(sum);
            ++f_.SampleCount;
            SetProgressPosition(f_.SampleCount);
            if (f_.SampleCount < kSamples) {
                net_->StartFlowCalculation(f_.ChannelMask);
                return;
            }
            f_.NominalSum = static_cast<float>(static_cast<long double>(f_.NominalSum) / kSamples / f_.Paths);
            f_.RunState = 5;
            LargestDelay();
        }
    });
}

void TFMainController::LargestDelay()
{
    if (!(f_.NominalSum >= 1.0f)) {
        net_->BreakTransmit();
        net_->AbandonRequest();
        net_->OnReceiveExecuted = Bind(this, &TFMainController::IgnoreAnswer);
        prompter_.Message("Ошибка датчика.", "Ошибка");
        stopReason_ = "Ошибка датчика.";
        Arm(*TimerClose);
        return;
    }
    const long double nominalMax = f_.NominalMax;
    const long double nominalSum = f_.NominalSum;
    const long double estimate = nominalMax / nominalSum + 1.0L;
    // The sweep and the model hold delays 0..19; a larger delay (or none at all) cannot be swept.
    int mmax = -1;
    if (estimate > -1.0L && estimate < 1000.0L) {
        mmax = static_cast<int>(estimate);
        if (1.33L * nominalMax < mmax * nominalSum) --mmax;
    }
    if (mmax < 0 || mmax >= kDelayCount) {
        f_.RunState = -1;
        EmulationOff();
        emulatorOn_ = false;
        Stop("Максимально возможная задержка Mmax=" + (mmax < 0 ? std::string("не определена") : std::to_string(mmax)) +
             " вне диапазона 0.." + std::to_string(kDelayCount - 1) + ": поверка невозможна.");
        return;
    }
    f_.Mmax = mmax;
    flowMath_->MaxDelay = mmax;
    if (view_.ChBDopInfoChecked) AddLine("Максимально возможная задержка Mmax=" + std::to_string(mmax));
    SetStatus("OK");
    SetProgress(0, 100, 0);

    net_->OnReceiveExecuted = Bind(this, &TFMainController::SweepAnswer);
    f_.SweepDelay = 0;
    f_.SweepCount = 0;
    f_.NextPhase = 0;
    TransTimer->Stop();
    TransTimer->OnTimer = Bind(this, &TFMainController::SweepTick);
    for (int m = 0; m <= mmax; ++m) {
        f_.FwdFlows[static_cast<size_t>(m)] = 0.0f;
        flowMath_->Pattern[static_cast<size_t>(m)] = 0;
    }
    f_.SweepSample = 0.0f;
    flowMath_->FwdTable = &f_.FwdFlows;
    flowMath_->RevTable = &f_.RevFlows;
    reverseSwept_ = false;
    SetStage(msSweeping);
    SweepStep();
}

// --- Delay sweep

void TFMainController::SendSweepPhase()
{
    switch (f_.SweepPhase) {
        case 0:
            f_.EmuBlock[static_cast<size_t>(EmuGroupOffset())] = static_cast<uint8_t>(f_.DelayCode & 0xFF);
            net_->WriteRAM(f_.RamPointers.Word[SPointerRAM::kEmulator], static_cast<unsigned char>(f_.EmuBlock.size()),
                           f_.EmuBlock.data());
            break;
        case 1:
            net_->StartFlowCalculation(f_.ChannelMask);
            break;
        case 2:
            net_->ReadRAM(f_.RamPointers.Word[SPointerRAM::kLastMeasure],
                          static_cast<unsigned char>(SLastMeasure::kSize));
            break;
        default:
            break;
    }
}

void TFMainController::SweepTick(TObject*)
{
    Guarded([&] {
        TransTimer->Stop();
        if (stage_ == msSweeping) SendSweepPhase();
    });
}

void TFMainController::SweepAnswer(short Length, unsigned char* Buffer)
{
    Guarded([&] {
        if (stage_ != msSweeping) return;
        const uint8_t b = Buffer && Length > 0 ? Buffer[0] : 0;
        switch (f_.SweepPhase) {
            case 0:
                if (b == kAckDone) {
                    f_.NextPhase = 0;
                    f_.SweepPhase = 1;
                } else {
                    f_.SweepPhase = f_.NextPhase;
                }
                Arm(*TransTimer);
                break;
            case 1:
                if (b == kAckDone) {
                    f_.NextPhase = 2;
                    f_.SweepPhase = 2;
                } else {
                    f_.NextPhase = 0;
                    f_.SweepPhase = 0;
                }
                Arm(*TransTimer);
                break;
            case 2:
            case 3: {
                const int s = f_.SelectedSensor;
                const int needed = 4 * (kRawValue + s + f_.Paths);
                // A block too short to hold the channels is read again rather than averaged with made-up values.
                if (!Buffer || Length < needed) {
                    SendSweepPhase();
                    break;
                }
                long double sum = 0.0L;
                for (int c = 0; c < f_.Paths; ++c) sum += F32At(Buffer + 4 * (kRawValue + s + c));
                f_.SweepSample = static_cast<float>(sum / f_.Paths);
                SweepStep();
                break;
            }
            default:
                SendSweepPhase();
                break;
        }
    });
}

void TFMainController::SweepStep()
{
    f_.SweepPhase = 0;
    f_.NextPhase = 0;
    TDelayTable& t = SweepTable();
    const auto at = [&t](int m) -> float& { return t[static_cast<size_t>(m)]; };
    at(f_.SweepDelay) = static_cast<float>(static_cast<long double>(at(f_.SweepDelay)) + f_.SweepSample);
    if (f_.SweepDelay == 0) {
        if (f_.SweepCount >= view_.ProgressBar3Max && f_.SweepCount > 0) {
            at(0) = static_cast<float>(static_cast<long double>(at(0)) / f_.SweepCount);
            f_.SweepDelay = 1;
            f_.SweepCount = 0;
            SetProgress(view_.ProgressBar3Min, 50, 0);
        } else if (f_.SweepCount != 0) {
            f_.SweepPhase = 1;
            f_.NextPhase = 2;
        }
    }
    if (f_.SweepDelay > 0 && f_.SweepDelay < kDelayCount) {
        if (f_.SweepCount >= view_.ProgressBar3Max && f_.SweepCount > 0) {
            at(f_.SweepDelay) = static_cast<float>(static_cast<long double>(at(f_.SweepDelay)) / f_.SweepCount);
            ++f_.SweepDelay;
            f_.SweepCount = 0;
            SetProgress(view_.ProgressBar3Min, 20, 0);
        } else if (f_.SweepCount != 0) {
            f_.SweepPhase = 2;
            f_.NextPhase = 2;
        }
    }
    if (f_.SweepDelay > f_.Mmax) {
        if (!f_.ReverseActive && view_.ChB_backChecked) {
            f_.ReverseActive = true;
            reverseSwept_ = true;
            f_.SweepDelay = 0;
            f_.NextPhase = 0;
            for (int m = 0; m <= f_.Mmax; ++m) f_.RevFlows[static_cast<size_t>(m)] = 0.0f;
            f_.SweepSample = 0.0f;
            SweepStep();
            return;
        }
        SweepEnd();
        return;
    }
    f_.DelayCode = 4 * f_.SweepDelay;
    ++f_.SweepCount;
    SetProgressPosition(f_.SweepCount);
    Arm(*TransTimer);
}

void TFMainController::EmulationOff()
{
    for (size_t g : {size_t{0}, size_t{4}}) {
        f_.EmuBlock[g] = 0;
        f_.EmuBlock[g + 1] &= 0x9F;
    }
    net_->WriteRAM(f_.RamPointers.Word[SPointerRAM::kEmulator], static_cast<unsigned char>(f_.EmuBlock.size()),
                   f_.EmuBlock.data());
}

void TFMainController::SweepEnd()
{
    net_->OnReceiveExecuted = Bind(this, &TFMainController::EndAnswer);
    EmulationOff();
}

void TFMainController::EndAnswer(short, unsigned char*)
{
    Guarded([&] {
        if (stage_ != msSweeping) return;
        emulatorOn_ = false;
        Arm(*TimerCalcCharge);
    });
}

}  // namespace rv
