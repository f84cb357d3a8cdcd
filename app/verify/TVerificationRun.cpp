// The verification run: the emulator check, the required flows, the zero and nominal measurements, the
// largest delay and the delay sweep in the forward and, when asked, the reverse direction.
#include "app/verify/TVerificationRun.h"

#include "app/verify/FlowTables.h"
#include "app/verify/TEmulatorCheck.h"
#include "app/verify/TFlowMath.h"
#include "app/verify/TMainPage.h"
#include "app/window/Guarded.h"
#include "app/window/ProtocolFormat.h"
#include "app/window/TMeterConnection.h"
#include "core/IDeviceLink.h"
#include "core/LineTypes.h"
#include "core/Loop.h"
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
// The largest delay a run is planned with until it has measured its own.
constexpr int kTypicalMmax = 9;

float F32At(const uint8_t* p)
{
    const uint32_t bits = GetU32(p);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace

TVerificationRun::TVerificationRun(TMeterConnection& connection, TMainPage& page, IPrompter& prompter, Loop& loop,
                                   const SConnectionFields& sensor)
    : connection_(connection),
      page_(page),
      prompter_(prompter),
      loop_(loop),
      sensor_(sensor),
      check_(std::make_unique<TEmulatorCheck>(connection.Net(), prompter, loop)),
      TimerWork(MakeTimer(loop, "TimerWork", 1)),
      TransTimer(MakeTimer(loop, "TransTimer", 1)),
      TimerShow(MakeTimer(loop, "TimerShow", 5000)),
      TimerCalcCharge(MakeTimer(loop, "TimerCalcCharge", 1)),
      TimerSwitchOff(MakeTimer(loop, "TimerSwitchOff", 1))
{
    connection_.Net().OnLast = Bind(this, &TVerificationRun::Net_6x6Last);
    check_->OnConfirmed = Bind(this, &TVerificationRun::Confirmed);
    check_->OnRefused = Bind(this, &TVerificationRun::Refused);
    TimerWork->OnTimer = Bind(this, &TVerificationRun::TimerWorkTimer);
    TimerShow->OnTimer = Bind(this, &TVerificationRun::TimerShowTimer);
    TimerCalcCharge->OnTimer = Bind(this, &TVerificationRun::TimerCalcChargeTimer);
    TimerSwitchOff->OnTimer = Bind(this, &TVerificationRun::TimerSwitchOffTimer);
}

TVerificationRun::~TVerificationRun()
{
    StopTimers();
    connection_.Net().OnLast = nullptr;
}

TRurIvaQs_6x6& TVerificationRun::Net()
{
    return connection_.Net();
}

void TVerificationRun::IgnoreAnswers()
{
    connection_.IgnoreAnswers();
}

SSensorRecord TVerificationRun::ChosenSensor() const
{
    return SSensorRecord::Decode(connection_.Chain().SensorImage()[static_cast<size_t>(sensor_.SelectedSensor)]);
}

void TVerificationRun::Abandon()
{
    StopTimers();
    run_.RunRequested = false;
    run_.RunState = -1;
    points_.Valid = false;
    course_.UnderWay = false;
    course_.Stopping = false;
    course_.AfterStop = nullptr;
    course_.Phase = SRunCourse::phIdle;
    if (page_.View().ButtonStopEnabled) {
        page_.View().ButtonStopEnabled = false;
        page_.Notify(vcControls);
    }
}

void TVerificationRun::StopTimers()
{
    check_->Stop();
    for (TTimer* t : {TimerWork.get(), TransTimer.get(), TimerShow.get(), TimerCalcCharge.get(), TimerSwitchOff.get()})
        t->Stop();
}

void TVerificationRun::CheckEmulator()
{
    page_.SetStage(msEmulatorCheck);
    check_->Start();
}

void TVerificationRun::AbandonMeasurement()
{
    StopTimers();
    Net().BreakTransmit();
    Net().AbandonRequest();
    IgnoreAnswers();
    run_.RunState = -1;
    points_.Valid = false;
}

void TVerificationRun::Start()
{
    Guarded([&] {
        AbandonMeasurement();
        course_.UnderWay = true;
        page_.View().ButtonStopEnabled = true;
        page_.Notify(vcControls);
        page_.View().RunPoints.clear();
        page_.Notify(vcPoints);
        OnStarted();
        course_.Line.Bits = BitsPerSecond(connection_.Link().GetBaudRate());
        course_.Progress.Begin(course_.Line.Whole(kTypicalMmax, kRequiredFlowFields, page_.View().ChB_backChecked), loop_.NowMs());
        run_.NominalMax = ChosenSensor().NominalMax;
        if (!flowMath_) flowMath_ = std::make_unique<TFlowMath>();
        run_.ReverseActive = false;
        EnterPhase(SRunCourse::phEmulatorCheck);
        // The raw readings are divided by it and the flow model takes its root and logarithm.
        if (!(sensor_.KfsValue > 0.0f) || !std::isfinite(sensor_.KfsValue)) {
            Fail("Недопустимый коэффициент KFS датчика: " + ValueText(sensor_.KfsValue) + ". Поверка невозможна.");
            return;
        }
        run_.SizeIndex = SizeIndexOf(run_.NominalMax, [this](const std::string& text, const std::string& caption) {
            prompter_.Message(text, caption);
        });
        flowMath_->SizeIndex = run_.SizeIndex;
        flowMath_->PipeDiameter = tables::Diameter[static_cast<size_t>(run_.SizeIndex)];
        flowMath_->Kfs = sensor_.KfsValue;
        flowMath_->WaterTemp = 20.0f;
        run_.RunRequested = true;
        page_.SetStage(msEmulatorCheck);
        check_->Start();
    });
}

// --- Emulator check

void TVerificationRun::Confirmed(const SPointerRAM& pointers)
{
    Guarded([&] {
        if (course_.Stopping || page_.Stage() != msEmulatorCheck) return;
        run_.RamPointers = pointers;
        run_.EmulatorConfirmed = true;
        page_.View().Button1Enabled = true;
        page_.View().ChB_backEnabled = true;
        page_.Notify(vcControls);
        if (run_.RunRequested) {
            Advance(course_.Line.EmulatorCheck());
            EnterPhase(SRunCourse::phZero);
            page_.SetStage(msMeasuring);
            TimerWork->SetEnabled(true);
        } else {
            page_.SetStage(msReady);
        }
    });
}

void TVerificationRun::Refused()
{
    Guarded([&] {
        run_.EmulatorConfirmed = false;
        const std::string reason = "Прибор не в режиме имитатора: поверка отменена.";
        Interrupt(reason, [this, reason] { OnClose(reason); });
    });
}

// --- Required flows and the measurement chain

void TVerificationRun::FillRequiredFlows()
{
    using namespace tables;
    const auto i = static_cast<size_t>(run_.SizeIndex);
    auto& fields = page_.View().EditDigitalText;
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
        run_.PointCount = 5;
    };
    switch (sensor_.TableSet) {
        case acClass2:
            if (run_.Paths == 3)
                geometric(B4, B1);
            else
                geometric(A4, A1);
            break;
        case acClass03:
            put({D3[i], D3[i], D3[i], D2[i]});
            run_.PointCount = 3;
            break;
        case acClass15:
            if (run_.Paths == 1)
                put({A4[i], A3[i], A2[i], A1[i]});
            else
                put({C4[i], C3[i], C2[i], C1[i]});
            run_.PointCount = 4;
            break;
        case acClass1:
            geometric(C4, C1);
            break;
        case acClassB:
            put({D3[i], D3[i], D2[i], D1[i]});
            run_.PointCount = 3;
            break;
        default:
            // No flows for this set: a run would end without a point.
            run_.PointCount = 0;
            return;
    }
    page_.Notify(vcEdits);
}

void TVerificationRun::TimerWorkTimer(TObject*)
{
    Guarded([&] {
        TimerWork->Stop();
        run_.NominalMax = ChosenSensor().NominalMax;
        run_.Paths = sensor_.PathsPerSensor;
        FillRequiredFlows();
        if (run_.PointCount <= 0) {
            Fail("Неизвестный набор таблиц расходов: " + std::to_string(sensor_.TableSet) + ". Поверка невозможна.");
            return;
        }
        Net().OnReceiveExecuted = Bind(this, &TVerificationRun::RunAnswer);
        run_.SampleCount = 0;
        run_.ZeroFlowSum = 0.0f;
        // A run given up while the emulator was on left it on: the zero check would see its flow.
        if (run_.EmulatorOn) {
            run_.RunState = kRestoreRead;
            Net().ReadRAM(run_.RamPointers.Word[SPointerRAM::kEmulator],
                          static_cast<unsigned char>(run_.EmuBlock.size()));
            return;
        }
        run_.RunState = 0;
        Net().StartFlowCalculation(sensor_.ChannelMask);
    });
}

int TVerificationRun::EmuGroupOffset() const
{
    return sensor_.SelectedSensor * sensor_.PathsPerSensor >= 3 ? 4 : 0;
}

void TVerificationRun::RunAnswer(short Length, unsigned char* Buffer)
{
    Guarded([&] {
        if (course_.Stopping || page_.Stage() != msMeasuring) return;
        switch (run_.RunState) {
            case 0:
            case 4:
                Net().GetLast();
                break;
            case 2: {
                const uint16_t emulator = run_.RamPointers.Word[SPointerRAM::kEmulator];
                if (!Buffer || Length < static_cast<short>(run_.EmuBlock.size())) {
                    // A short block would leave bytes of the block unknown that are written back below.
                    Net().ReadRAM(emulator, static_cast<unsigned char>(run_.EmuBlock.size()));
                    break;
                }
                std::copy(Buffer, Buffer + run_.EmuBlock.size(), run_.EmuBlock.begin());
                Advance(course_.Line.BlockRead());
                run_.RunState = 3;
                const int g = EmuGroupOffset();
                run_.EmuBlock[static_cast<size_t>(g)] = 4;
                run_.EmuBlock[static_cast<size_t>(g + 1)] |= kEmulationBits;
                Net().WriteRAM(emulator, static_cast<unsigned char>(run_.EmuBlock.size()), run_.EmuBlock.data());
                run_.EmulatorOn = true;
                run_.SampleCount = 0;
                run_.NominalSum = 0.0f;
                break;
            }
            case 3:
                Advance(course_.Line.BlockWrite());
                run_.RunState = 4;
                Net().StartFlowCalculation(sensor_.ChannelMask);
                break;
            case kRestoreRead:
                if (!Buffer || Length < static_cast<short>(run_.EmuBlock.size())) {
                    Net().ReadRAM(run_.RamPointers.Word[SPointerRAM::kEmulator],
                                  static_cast<unsigned char>(run_.EmuBlock.size()));
                    break;
                }
                std::copy(Buffer, Buffer + run_.EmuBlock.size(), run_.EmuBlock.begin());
                run_.RunState = kRestoreWrite;
                EmulationOff();
                break;
            case kRestoreWrite:
                run_.EmulatorOn = false;
                run_.RunState = 0;
                Net().StartFlowCalculation(sensor_.ChannelMask);
                break;
            default:
                break;
        }
    });
}

void TVerificationRun::Net_6x6Last(const SLastMeasure* Last)
{
    Guarded([&] {
        if (!Last || course_.Stopping || page_.Stage() != msMeasuring) return;
        const int s = sensor_.SelectedSensor;
        if (run_.RunState == 0) {
            long double sum = run_.ZeroFlowSum;
            for (int c = 0; c < run_.Paths; ++c) sum += Last->Value[kFlowValue + s + c];
            run_.ZeroFlowSum = static_cast<float>(sum);
            ++run_.SampleCount;
            Advance(course_.Line.Start() + course_.Line.Last());
            if (run_.SampleCount < kSamples) {
                Net().StartFlowCalculation(sensor_.ChannelMask);
                return;
            }
            run_.ZeroFlowSum = static_cast<float>(static_cast<long double>(run_.ZeroFlowSum) / kSamples / run_.Paths);
            // A reading that is no number is no proof of standing water either.
            if (!(std::fabs(static_cast<double>(run_.ZeroFlowSum)) <= 0.05)) {
                run_.RunState = -1;
                IgnoreAnswers();
                Fail("Обнаружено движение жидкости\nустановите гидроноль");
                return;
            }
            run_.RunState = 1;
            run_.RunState = 2;
            EnterPhase(SRunCourse::phNominal);
            Net().ReadRAM(run_.RamPointers.Word[SPointerRAM::kEmulator],
                          static_cast<unsigned char>(run_.EmuBlock.size()));
        } else if (run_.RunState == 4) {
            long double sum = run_.NominalSum;
            for (int c = 0; c < run_.Paths; ++c)
                sum += static_cast<long double>(Last->Value[kRawValue + s + c]) / sensor_.KfsValue;
            run_.NominalSum = static_cast<float>(sum);
            ++run_.SampleCount;
            Advance(course_.Line.Start() + course_.Line.Last());
            if (run_.SampleCount < kSamples) {
                Net().StartFlowCalculation(sensor_.ChannelMask);
                return;
            }
            run_.NominalSum = static_cast<float>(static_cast<long double>(run_.NominalSum) / kSamples / run_.Paths);
            run_.RunState = 5;
            LargestDelay();
        }
    });
}

void TVerificationRun::LargestDelay()
{
    if (!(run_.NominalSum >= 1.0f)) {
        // The program ends here, but not with the meter left emulating.
        Interrupt("Ошибка датчика.", [this] { OnClose("Ошибка датчика."); }, true);
        return;
    }
    const long double nominalMax = run_.NominalMax;
    const long double nominalSum = run_.NominalSum;
    const long double estimate = nominalMax / nominalSum + 1.0L;
    // The sweep and the model hold delays 0..19; a larger delay (or none at all) cannot be swept.
    int mmax = -1;
    if (estimate > -1.0L && estimate < 1000.0L) {
        mmax = static_cast<int>(estimate);
        if (1.33L * nominalMax < mmax * nominalSum) --mmax;
    }
    if (mmax < 0 || mmax >= kDelayCount) {
        Fail("Максимально возможная задержка Mmax=" + (mmax < 0 ? std::string("не определена") : std::to_string(mmax)) +
             " вне диапазона 0.." + std::to_string(kDelayCount - 1) + ": поверка невозможна.");
        return;
    }
    run_.Mmax = mmax;
    flowMath_->MaxDelay = mmax;
    if (page_.View().ChBDopInfoChecked) page_.AddLine("Максимально возможная задержка Mmax=" + std::to_string(mmax));
    run_.SweepLimit = 100;
    course_.Progress.Replan(course_.Line.AfterNominal(mmax, run_.PointCount, page_.View().ChB_backChecked));

    Net().OnReceiveExecuted = Bind(this, &TVerificationRun::SweepAnswer);
    run_.SweepDelay = 0;
    run_.SweepCount = 0;
    run_.NextPhase = 0;
    TransTimer->Stop();
    TransTimer->OnTimer = Bind(this, &TVerificationRun::SweepTick);
    for (int m = 0; m <= mmax; ++m) {
        run_.FwdFlows[static_cast<size_t>(m)] = 0.0f;
        flowMath_->Pattern[static_cast<size_t>(m)] = 0;
    }
    run_.SweepSample = 0.0f;
    flowMath_->FwdTable = &run_.FwdFlows;
    flowMath_->RevTable = &run_.RevFlows;
    run_.ReverseSwept = false;
    page_.SetStage(msSweeping);
    EnterPhase(SRunCourse::phSweep);
    SweepStep();
}

// --- Delay sweep

void TVerificationRun::SendSweepPhase()
{
    switch (run_.SweepPhase) {
        case 0:
            run_.EmuBlock[static_cast<size_t>(EmuGroupOffset())] = static_cast<uint8_t>(run_.DelayCode & 0xFF);
            Net().WriteRAM(run_.RamPointers.Word[SPointerRAM::kEmulator],
                           static_cast<unsigned char>(run_.EmuBlock.size()), run_.EmuBlock.data());
            break;
        case 1:
            Net().StartFlowCalculation(sensor_.ChannelMask);
            break;
        case 2:
            Net().ReadRAM(run_.RamPointers.Word[SPointerRAM::kLastMeasure],
                          static_cast<unsigned char>(SLastMeasure::kSize));
            break;
        default:
            break;
    }
}

void TVerificationRun::SweepTick(TObject*)
{
    Guarded([&] {
        TransTimer->Stop();
        if (page_.Stage() == msSweeping) SendSweepPhase();
    });
}

void TVerificationRun::SweepAnswer(short Length, unsigned char* Buffer)
{
    Guarded([&] {
        if (course_.Stopping || page_.Stage() != msSweeping) return;
        const uint8_t b = Buffer && Length > 0 ? Buffer[0] : 0;
        switch (run_.SweepPhase) {
            case 0:
                Advance(course_.Line.BlockWrite());
                if (b == kAckDone) {
                    run_.NextPhase = 0;
                    run_.SweepPhase = 1;
                } else {
                    run_.SweepPhase = run_.NextPhase;
                }
                TransTimer->SetEnabled(true);
                break;
            case 1:
                Advance(course_.Line.Start());
                if (b == kAckDone) {
                    run_.NextPhase = 2;
                    run_.SweepPhase = 2;
                } else {
                    run_.NextPhase = 0;
                    run_.SweepPhase = 0;
                }
                TransTimer->SetEnabled(true);
                break;
            case 2:
            case 3: {
                const int s = sensor_.SelectedSensor;
                const int needed = 4 * (kRawValue + s + run_.Paths);
                // A block too short to hold the channels is read again rather than averaged with made-up values.
                if (!Buffer || Length < needed) {
                    SendSweepPhase();
                    break;
                }
                long double sum = 0.0L;
                for (int c = 0; c < run_.Paths; ++c) sum += F32At(Buffer + 4 * (kRawValue + s + c));
                run_.SweepSample = static_cast<float>(sum / run_.Paths);
                Advance(course_.Line.Last());
                SweepStep();
                break;
            }
            default:
                SendSweepPhase();
                break;
        }
    });
}

void TVerificationRun::SweepStep()
{
    run_.SweepPhase = 0;
    run_.NextPhase = 0;
    TDelayTable& t = SweepTable();
    const auto at = [&t](int m) -> float& { return t[static_cast<size_t>(m)]; };
    at(run_.SweepDelay) = static_cast<float>(static_cast<long double>(at(run_.SweepDelay)) + run_.SweepSample);
    if (run_.SweepDelay == 0) {
        if (run_.SweepCount >= run_.SweepLimit && run_.SweepCount > 0) {
            at(0) = static_cast<float>(static_cast<long double>(at(0)) / run_.SweepCount);
            run_.SweepDelay = 1;
            run_.SweepCount = 0;
            run_.SweepLimit = 50;
            Advance(0.0);
        } else if (run_.SweepCount != 0) {
            run_.SweepPhase = 1;
            run_.NextPhase = 2;
        }
    }
    if (run_.SweepDelay > 0 && run_.SweepDelay < kDelayCount) {
        if (run_.SweepCount >= run_.SweepLimit && run_.SweepCount > 0) {
            at(run_.SweepDelay) = static_cast<float>(static_cast<long double>(at(run_.SweepDelay)) / run_.SweepCount);
            ++run_.SweepDelay;
            run_.SweepCount = 0;
            run_.SweepLimit = 20;
            Advance(0.0);
        } else if (run_.SweepCount != 0) {
            run_.SweepPhase = 2;
            run_.NextPhase = 2;
        }
    }
    if (run_.SweepDelay > run_.Mmax) {
        if (!run_.ReverseActive && page_.View().ChB_backChecked) {
            run_.ReverseActive = true;
            run_.ReverseSwept = true;
            run_.SweepDelay = 0;
            run_.NextPhase = 0;
            for (int m = 0; m <= run_.Mmax; ++m) run_.RevFlows[static_cast<size_t>(m)] = 0.0f;
            run_.SweepSample = 0.0f;
            Advance(0.0);
            SweepStep();
            return;
        }
        SweepEnd();
        return;
    }
    run_.DelayCode = 4 * run_.SweepDelay;
    ++run_.SweepCount;
    TransTimer->SetEnabled(true);
}

void TVerificationRun::EmulationOff()
{
    for (size_t g : {size_t{0}, size_t{4}}) {
        run_.EmuBlock[g] = 0;
        run_.EmuBlock[g + 1] &= 0x9F;
    }
    Net().WriteRAM(run_.RamPointers.Word[SPointerRAM::kEmulator], static_cast<unsigned char>(run_.EmuBlock.size()),
                   run_.EmuBlock.data());
}

void TVerificationRun::SweepEnd()
{
    Net().OnReceiveExecuted = Bind(this, &TVerificationRun::EndAnswer);
    EmulationOff();
}

void TVerificationRun::EndAnswer(short, unsigned char*)
{
    Guarded([&] {
        if (course_.Stopping || page_.Stage() != msSweeping) return;
        run_.EmulatorOn = false;
        Advance(course_.Line.BlockWrite());
        TimerCalcCharge->SetEnabled(true);
    });
}

}  // namespace rv
