// The main window's controller: its components and bindings, the view state, connect and disconnect, the
// identity answer and the read chain, repetitions, saving the protocol and closing.
#include "app/verify/TFMainController.h"

#include "app/verify/TVerificationRun.h"
#include "app/window/Guarded.h"
#include "controls/WholeFile.h"
#include "core/Cp1251.h"
#include "core/IDeviceLink.h"
#include "core/Loop.h"
#include "core/TTimer.h"
#include "meter/TRurIvaQs_6x6.h"

namespace rv {

TFMainController::TFMainController(IDeviceLink& link, IPrompter& prompter, Loop* loop)
    : prompter_(prompter),
      loop_(loop ? *loop : Loop::Current()),
      page_(prompter, OnViewChanged),
      connection_(link, loop_, 1500, kSensorImageSize,
                  [this](std::exception_ptr error) { ShowEscaped(prompter_, error); }),
      run_(std::make_unique<TVerificationRun>(connection_, page_, prompter, loop_, f_)),
      LastData(MakeTimer(loop_, "LastData", 10)),
      TimerClose(MakeTimer(loop_, "TimerClose", 10))
{
    connection_.OnIdentity = Bind(this, &TFMainController::Identified);
    connection_.OnRead = Bind(this, &TFMainController::RecordsRead);
    connection_.OnRepetition = [this](int n) { page_.SetStatus(TMeterConnection::RepetitionStatus(n)); };
    connection_.OnLost = Bind(this, &TFMainController::PortLost);
    run_->OnClose = Bind(this, &TFMainController::CloseWith);
    LastData->OnTimer = Bind(this, &TFMainController::LastDataTimer);
    TimerClose->OnTimer = Bind(this, &TFMainController::TimerCloseTimer);
}

TFMainController::~TFMainController()
{
    LastData->Stop();
    TimerClose->Stop();
}

// --- View state

int TFMainController::SkippedPoints() const
{
    return run_->SkippedPoints();
}

const TFlowMath* TFMainController::FlowMath() const
{
    return run_->FlowMath();
}

SMainFields TFMainController::Fields() const
{
    SMainFields all;
    static_cast<SConnectionFields&>(all) = f_;
    static_cast<SRunFields&>(all) = run_->Run();
    static_cast<SPointFields&>(all) = run_->Points();
    return all;
}

void TFMainController::SetEditDigitalText(int k, const std::string& text)
{
    if (k >= 0 && k < kRequiredFlowFields) page_.View().EditDigitalText[static_cast<size_t>(k)] = text;
}

void TFMainController::SetTabSheet1(bool visible, bool enabled)
{
    page_.View().TabSheet1Visible = visible;
    page_.View().TabSheet1Enabled = enabled;
    page_.Notify(vcControls);
}

void TFMainController::SetTabSheet2(bool visible, bool enabled)
{
    page_.View().TabSheet2Visible = visible;
    page_.View().TabSheet2Enabled = enabled;
    page_.Notify(vcControls);
}

void TFMainController::SetTraceHook(TraceHook hook)
{
    connection_.Net().SetTraceHook(std::move(hook));
}

// --- Connection

void TFMainController::AbandonRun()
{
    LastData->Stop();
    TimerClose->Stop();
    run_->Abandon();
    connection_.Abandon();
    readoutDone_ = false;
}

void TFMainController::SBOpenCloseClick()
{
    Guarded(prompter_, [&] {
        if (page_.View().SBOpenCloseDown)
            Connect();
        else
            Disconnect();
    });
}

void TFMainController::Connect()
{
    AbandonRun();
    SMainView& view = page_.View();
    view.CBPortNameEnabled = false;
    // Until the emulator check of this connection has passed there is nothing to verify with.
    view.Button1Enabled = false;
    view.ChB_backEnabled = false;
    page_.Notify(vcControls);
    std::string failure;
    if (!connection_.Connect(view.CBPortNameText, failure)) {
        view.SBOpenCloseDown = false;
        view.CBPortNameEnabled = true;
        page_.Notify(vcControls);
        page_.Stop(failure);
        return;
    }
    page_.SetStage(msIdentifying);
    view.TabSheet2Visible = false;
    view.TabSheet2Enabled = false;
    view.TabSheet1Visible = true;
    view.TabSheet1Enabled = true;
    page_.Notify(vcControls);
}

void TFMainController::Disconnect()
{
    AbandonRun();
    SMainView& view = page_.View();
    view.CBPortNameEnabled = true;
    view.Button1Enabled = false;
    view.ChB_backEnabled = false;
    connection_.Disconnect();
    view.TabSheet1Visible = true;
    view.TabSheet1Enabled = true;
    // The KFS page was hidden by the connect; with the port closed it is reachable again.
    view.TabSheet2Visible = true;
    view.TabSheet2Enabled = true;
    view.ActivePage = 0;
    page_.Notify(vcControls);
    page_.SetStage(msIdle);
}

void TFMainController::Identified(const SIDDevice& id)
{
    if (page_.Stage() != msIdentifying) return;
    f_.MeterSerial = id.SerialNumber;
    page_.SetStage(msReading);
    page_.SetStatus("Чтение конфигурации прибора.");
    connection_.ReadRecords();
}

void TFMainController::RecordsRead(TReadProgress progress)
{
    if (progress == rpConfigRead) {
        page_.SetStatus("Чтение информации датчиков.");
    } else if (progress == rpSensorsRead) {
        page_.SetStatus("Выбор датчика для проверки.");
        page_.SetStage(msChoosing);
        LastData->SetEnabled(true);
    }
}

void TFMainController::PortLost(const std::string& message)
{
    page_.View().SBOpenCloseDown = false;
    Disconnect();
    page_.Stop(message);
}

// --- Run, save and close

void TFMainController::Button1Click()
{
    Guarded(prompter_, [&] {
        // Nothing to verify before the header of this connection is out, and nothing may go to a closed port.
        if (!readoutDone_ || !connection_.Link().GetOpen()) return;
        run_->Start();
    });
}

void TFMainController::SpeedButton1Click()
{
    Guarded(prompter_, [&] {
        const std::optional<std::string> path =
            prompter_.SaveFileName({"Сохранение отчета", "Текстовый файл|*.TXT", "TXT"});
        if (!path) return;
        std::string bytes;
        for (const std::string& line : page_.View().Memo1Lines) {
            bytes += ToCp1251(line);
            bytes += "\r\n";
        }
        WriteFileWhole(*path, bytes);
    });
}

void TFMainController::CloseWith(const std::string& reason)
{
    page_.SetStopReason(reason);
    TimerClose->SetEnabled(true);
}

void TFMainController::TimerCloseTimer(TObject*)
{
    Guarded(prompter_, [&] {
        TimerClose->Stop();
        const std::string reason = page_.StopReason();
        AbandonRun();
        page_.SetStopReason(reason);
        page_.Close();
    });
}

}  // namespace rv
