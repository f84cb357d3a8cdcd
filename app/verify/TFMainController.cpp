// The main window's controller: its components and bindings, the view state, connect and disconnect, the
// identity answer and the read chain, repetitions, saving the protocol and closing.
#include "app/verify/TFMainController.h"

#include "app/verify/FlowTables.h"
#include "app/window/TConfigReadChain.h"
#include "controls/WholeFile.h"
#include "core/Cp1251.h"
#include "core/IDeviceLink.h"
#include "core/Loop.h"
#include "core/TTimer.h"
#include "meter/TRurIvaQs_6x6.h"

namespace rv {

namespace {

std::unique_ptr<TTimer> MakeTimer(Loop& loop, const char* name, uint32_t interval)
{
    auto timer = std::make_unique<TTimer>(nullptr, &loop);
    timer->SetName(name);
    timer->SetInterval(interval);
    return timer;
}

}  // namespace

TFMainController::TFMainController(IDeviceLink& link, IPrompter& prompter, Loop* loop)
    : link_(link),
      prompter_(prompter),
      loop_(loop ? *loop : Loop::Current()),
      net_(std::make_unique<TRurIvaQs_6x6>(nullptr, &loop_)),
      port_(link_, *net_, loop_, 1500),
      chain_(std::make_unique<TConfigReadChain>()),
      LastData(MakeTimer(loop_, "LastData", 10)),
      TimerEmitator(MakeTimer(loop_, "TimerEmitator", 10)),
      TimerWork(MakeTimer(loop_, "TimerWork", 1)),
      TransTimer(MakeTimer(loop_, "TransTimer", 1)),
      TimerShow(MakeTimer(loop_, "TimerShow", 5000)),
      TimerClose(MakeTimer(loop_, "TimerClose", 10)),
      TimerCalcCharge(MakeTimer(loop_, "TimerCalcCharge", 1))
{
    BindHandlers();
}

TFMainController::~TFMainController()
{
    for (TTimer* t : {LastData.get(), TimerEmitator.get(), TimerWork.get(), TransTimer.get(), TimerShow.get(),
                      TimerClose.get(), TimerCalcCharge.get()})
        t->Stop();
    port_.Release();
}

void TFMainController::BindHandlers()
{
    net_->OnRepetition = Bind(this, &TFMainController::Net_6x6Repetition);
    net_->OnReceiveExecuted = Bind(this, &TFMainController::Net_6x6ReceiveExecuted);
    net_->OnReceivedIDDevice = Bind(this, &TFMainController::Net_6x6ReceivedIDDevice);
    net_->OnPointerRAM = Bind(this, &TFMainController::Net_6x6PointerRAM);
    net_->OnLast = Bind(this, &TFMainController::Net_6x6Last);
    net_->OnFB6x6 = Bind(this, &TFMainController::Net_6x6FB6x6);
    net_->OnTransmitError = Bind(this, &TFMainController::Net_6x6TransmitError);
    LastData->OnTimer = Bind(this, &TFMainController::LastDataTimer);
    TimerEmitator->OnTimer = Bind(this, &TFMainController::TimerEmitatorTimer);
    TimerWork->OnTimer = Bind(this, &TFMainController::TimerWorkTimer);
    TimerShow->OnTimer = Bind(this, &TFMainController::TimerShowTimer);
    TimerClose->OnTimer = Bind(this, &TFMainController::TimerCloseTimer);
    TimerCalcCharge->OnTimer = Bind(this, &TFMainController::TimerCalcChargeTimer);
    port_.OnLost = Bind(this, &TFMainController::PortLost);
}

// --- View state

void TFMainController::SetEditDigitalText(int k, const std::string& text)
{
    if (k >= 0 && k < kRequiredFlowFields) view_.EditDigitalText[static_cast<size_t>(k)] = text;
}

void TFMainController::SetTabSheet1(bool visible, bool enabled)
{
    view_.TabSheet1Visible = visible;
    view_.TabSheet1Enabled = enabled;
    ControlsChanged();
}

void TFMainController::SetTabSheet2(bool visible, bool enabled)
{
    view_.TabSheet2Visible = visible;
    view_.TabSheet2Enabled = enabled;
    ControlsChanged();
}

void TFMainController::SetStatus(const std::string& text)
{
    view_.LStatusCaption = text;
    Notify(vcStatus);
}

void TFMainController::ClearMemo()
{
    view_.Memo1Lines.clear();
    Notify(vcMemoCleared);
}

void TFMainController::AddLine(const std::string& line)
{
    view_.Memo1Lines.push_back(line);
    Notify(vcMemoAdded);
}

void TFMainController::SetProgress(int min, int max, int position)
{
    view_.ProgressBar3Min = min;
    view_.ProgressBar3Max = max;
    view_.ProgressBar3Position = position;
    Notify(vcProgress);
}

void TFMainController::SetProgressPosition(int position)
{
    view_.ProgressBar3Position = position;
    Notify(vcProgress);
}

void TFMainController::SetStage(TMainStage stage)
{
    stage_ = stage;
    if (stage != msStopped) stopReason_.clear();
    Notify(vcStage);
}

void TFMainController::Stop(const std::string& message)
{
    prompter_.Message(message, "Ошибка");
    stopReason_ = message;
    stage_ = msStopped;
    Notify(vcStage);
}

void TFMainController::Arm(TTimer& timer)
{
    timer.SetEnabled(true);
}

int TFMainController::ReadStep() const
{
    return chain_->ReadStep();
}
int TFMainController::SensorCounter() const
{
    return chain_->SensorCounter();
}
const TConfigImage& TFMainController::ConfigImage() const
{
    return chain_->ConfigImage();
}
const TSensorImages& TFMainController::SensorImage() const
{
    return chain_->SensorImage();
}

float TFMainController::AllowedError(float q) const
{
    return rv::AllowedError(q, f_.TableSet, f_.PathsPerSensor, f_.SizeIndex);
}

void TFMainController::SetTraceHook(TraceHook hook)
{
    net_->SetTraceHook(std::move(hook));
}

// --- Connection

void TFMainController::AbandonRun()
{
    for (TTimer* t : {LastData.get(), TimerEmitator.get(), TimerWork.get(), TransTimer.get(), TimerShow.get(),
                      TimerClose.get(), TimerCalcCharge.get()})
        t->Stop();
    port_.Abandon();
    // The slot may still hold a handler of the run; a byte that arrives late must not start its next step.
    net_->OnReceiveExecuted = Bind(this, &TFMainController::IgnoreAnswer);
    chain_->Stop();
    f_.RunRequested = false;
    f_.RunState = -1;
    readoutDone_ = false;
    pointValid_ = false;
}

void TFMainController::SBOpenCloseClick()
{
    Guarded([&] {
        if (view_.SBOpenCloseDown)
            Connect();
        else
            Disconnect();
    });
}

void TFMainController::Connect()
{
    AbandonRun();
    view_.CBPortNameEnabled = false;
    // Until the emulator check of this connection has passed there is nothing to verify with.
    view_.Button1Enabled = false;
    view_.ChB_backEnabled = false;
    ControlsChanged();
    std::string failure;
    if (!port_.Open(view_.CBPortNameText, failure)) {
        view_.SBOpenCloseDown = false;
        view_.CBPortNameEnabled = true;
        ControlsChanged();
        Stop(failure);
        return;
    }
    SetStage(msIdentifying);
    net_->GetDeviceID();
    view_.TabSheet2Visible = false;
    view_.TabSheet2Enabled = false;
    view_.TabSheet1Visible = true;
    view_.TabSheet1Enabled = true;
    ControlsChanged();
}

void TFMainController::Disconnect()
{
    AbandonRun();
    view_.CBPortNameEnabled = true;
    view_.Button1Enabled = false;
    view_.ChB_backEnabled = false;
    port_.Close();
    view_.TabSheet1Visible = true;
    view_.TabSheet1Enabled = true;
    // The KFS page was hidden by the connect; with the port closed it is reachable again.
    view_.TabSheet2Visible = true;
    view_.TabSheet2Enabled = true;
    view_.ActivePage = 0;
    ControlsChanged();
    SetStage(msIdle);
}

void TFMainController::Net_6x6ReceivedIDDevice(const SIDDevice* IDDevice)
{
    Guarded([&] {
        if (!IDDevice || stage_ != msIdentifying) return;
        f_.MeterSerial = IDDevice->SerialNumber;
        SetStage(msReading);
        SetStatus("Чтение конфигурации прибора.");
        net_->OnReceiveExecuted = Bind(this, &TFMainController::Net_6x6ReceiveExecuted);
        chain_->Start(*net_);
    });
}

void TFMainController::Net_6x6ReceiveExecuted(short Length, unsigned char* Buffer)
{
    Guarded([&] {
        switch (chain_->Receive(*net_, Length, Buffer)) {
            case rpConfigRead:
                SetStatus("Чтение информации датчиков.");
                break;
            case rpSensorsRead:
                SetStatus("Выбор датчика для проверки.");
                SetStage(msChoosing);
                Arm(*LastData);
                break;
            case rpNothing:
                break;
        }
    });
}

void TFMainController::Net_6x6Repetition(int Repetition)
{
    Guarded([&] { SetStatus("Переповторы " + std::to_string(Repetition)); });
}

void TFMainController::Net_6x6TransmitError(const std::exception& Error)
{
    Guarded([&] {
        if (view_.SBOpenCloseDown) port_.Refused(Error);
    });
}

void TFMainController::PortLost(const std::string& message)
{
    Guarded([&] {
        if (!view_.SBOpenCloseDown || link_.GetOpen()) return;
        view_.SBOpenCloseDown = false;
        Disconnect();
        Stop(message);
    });
}

// --- Save and close

void TFMainController::SpeedButton1Click()
{
    Guarded([&] {
        const std::optional<std::string> path =
            prompter_.SaveFileName({"Сохранение отчета", "Текстовый файл|*.TXT", "TXT"});
        if (!path) return;
        std::string bytes;
        for (const std::string& line : view_.Memo1Lines) {
            bytes += ToCp1251(line);
            bytes += "\r\n";
        }
        WriteFileWhole(*path, bytes);
    });
}

void TFMainController::TimerCloseTimer(TObject*)
{
    Guarded([&] {
        TimerClose->Stop();
        const std::string reason = stopReason_;
        AbandonRun();
        stage_ = msClosing;
        stopReason_ = reason;
        Notify(vcStage);
        Notify(vcClose);
    });
}

}  // namespace rv
