// The main window's controller: its components and bindings, the view state, connect and disconnect, the
// identity answer and the read chain, repetitions, saving the protocol and closing.
#include "app/verify/TFMainController.h"

#include "app/verify/TVerificationRun.h"
#include "app/window/Guarded.h"
#include "app/window/IPrompter.h"
#include "app/window/ProtocolFormat.h"
#include "controls/WholeFile.h"
#include "core/Cp1251.h"
#include "core/IDeviceLink.h"
#include "core/Loop.h"
#include "core/TTimer.h"
#include "meter/TRurIvaQs_6x6.h"

#include <ctime>

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
    connection_.OnRepetition = [this](int n) {
        page_.SetStatus(TMeterConnection::RepetitionStatus(n));
        run_->Repetition(n);
    };
    connection_.OnLost = Bind(this, &TFMainController::PortLost);
    connection_.OnSilent = Bind(this, &TFMainController::Silent);
    run_->OnClose = Bind(this, &TFMainController::CloseWith);
    run_->OnStarted = [this] { OnRunEvent(reStarted); };
    run_->OnPoint = [this] { OnRunEvent(rePoint); };
    run_->OnEnded = [this](bool completed) {
        w_.RunCompleted = completed;
        OnRunEvent(reEnded);
    };
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

const SLineStatistics& TFMainController::LineStatistics() const
{
    return connection_.Net().GetStatistics();
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
    w_.ReadoutDone = false;
}

void TFMainController::SBOpenCloseClick()
{
    Guarded(prompter_, [&] {
        // The toggle waits while a run switches the emulation off; the port goes once that is done.
        if (run_->Stopping()) {
            page_.View().SBOpenCloseDown = connection_.Connected();
            page_.Notify(vcControls);
            return;
        }
        if (page_.View().SBOpenCloseDown)
            Connect();
        else
            Disconnect();
    });
}

void TFMainController::Connect()
{
    SMainView& view = page_.View();
    // What the last connection left in the memo is the technician's to keep or let go, before it is cleared.
    if (!AskToSave(true)) {
        view.SBOpenCloseDown = false;
        page_.Notify(vcControls);
        return;
    }
    AbandonRun();
    w_.Runs = 0;
    w_.MeterSilent = false;
    page_.ClearMemo();
    view.EditDigitalText.fill("0");
    page_.Notify(vcEdits);
    page_.SetProgress(0, 1000, 0);
    if (!view.LStatusCaption.empty()) page_.SetStatus("");
    view.CBPortNameEnabled = false;
    // Until the emulator check of this connection has passed there is nothing to verify with.
    view.Button1Enabled = false;
    view.ChB_backEnabled = false;
    page_.Notify(vcControls);
    std::string failure;
    w_.PortName = view.CBPortNameText;
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
    run_->Interrupt("соединение разорвано", [this] { Released(); });
}

void TFMainController::Released()
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
    f_.SoftwareVersion = id.Version;
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
    // The line is gone: the run ends without its switch-off, and says so.
    run_->Interrupt("связь с прибором потеряна", [this, message] {
        Released();
        page_.Stop(message);
    });
}

void TFMainController::Silent()
{
    if (prompter_.Question("Прибор не отвечает. Проверьте кабель, порт и адрес прибора. Продолжать попытки?",
                           "Внимание.")) {
        connection_.KeepTrying();
        return;
    }
    w_.MeterSilent = true;
    if (run_->UnderWay()) {
        run_->Interrupt("прибор не отвечает");
        return;
    }
    page_.View().SBOpenCloseDown = false;
    Released();
    page_.Stop("Прибор не отвечает.");
}

void TFMainController::Interrupt(const std::string& reason, std::function<void()> then)
{
    if (run_->UnderWay() || run_->Stopping()) {
        run_->Interrupt(reason, std::move(then));
        return;
    }
    if (connection_.Connected() && page_.Stage() < msReady) {
        page_.View().SBOpenCloseDown = false;
        Released();
        page_.Stopped(reason);
    }
    if (then) then();
}

// --- Run, save and close

void TFMainController::Button1Click()
{
    Guarded(prompter_, [&] {
        // Nothing to verify before the header of this connection is out, and nothing may go to a closed port.
        if (!w_.ReadoutDone || !connection_.Link().GetOpen() || run_->Stopping()) return;
        if (run_->UnderWay()) {
            if (!prompter_.Question("Поверка уже идет. Прервать ее и начать заново?", "Внимание.")) return;
            run_->Interrupt("начата новая поверка", [this] { StartRun(); });
            return;
        }
        StartRun();
    });
}

void TFMainController::StartRun()
{
    // Every run in the memo is whole on its own: a second one repeats the header after an empty line.
    if (w_.Runs++ > 0) {
        page_.AddLine("");
        w_.RunFirstLine = page_.View().Memo1Lines.size();
        BuildHeader(SSensorRecord::Decode(SensorImage()[static_cast<size_t>(f_.SelectedSensor)]));
    } else {
        w_.RunFirstLine = 0;
    }
    w_.RunCompleted = false;
    run_->Start();
}

std::vector<std::string> TFMainController::RunProtocol() const
{
    const std::vector<std::string>& lines = page_.View().Memo1Lines;
    if (w_.RunFirstLine >= lines.size()) return lines;
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(w_.RunFirstLine), lines.end());
}

void TFMainController::ButtonStopClick()
{
    Guarded(prompter_, [&] { run_->Interrupt("остановлена техником"); });
}

bool TFMainController::CloseQuery()
{
    if (w_.Closing) return true;
    bool now = false;
    Guarded(prompter_, [&] {
        if (run_->UnderWay() || run_->Stopping()) {
            run_->Interrupt("окно закрыто", [this] {
                if (!AskToSave(true)) return;
                w_.Closing = true;
                page_.Notify(vcClose);
            });
            return;
        }
        now = w_.Closing = AskToSave(true);
    });
    return now;
}

void TFMainController::SpeedButton1Click()
{
    Guarded(prompter_, [&] { Save(); });
}

bool TFMainController::Save()
{
    const std::optional<std::string> path =
        prompter_.SaveFileName({"Сохранение отчета", "Текстовый файл|*.TXT", "TXT", ReportName()});
    if (!path) return false;
    std::string bytes;
    for (const std::string& line : page_.View().Memo1Lines) {
        bytes += ToCp1251(line);
        bytes += "\r\n";
    }
    WriteFileWhole(*path, bytes);
    page_.MarkSaved();
    page_.SetStatus("Протокол сохранен в файл " + *path);
    return true;
}

std::string TFMainController::ReportName() const
{
    if (!w_.ReadoutDone) return {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &local);
    const SSensorRecord sensor = SSensorRecord::Decode(SensorImage()[static_cast<size_t>(f_.SelectedSensor)]);
    return std::to_string(f_.MeterSerial) + "_" + SensorSize(sensor, f_.PathsPerSensor) + "_" + date + ".TXT";
}

bool TFMainController::AskToSave(bool cancelable)
{
    if (!page_.Unsaved()) return true;
    const std::string text = "Сохранить протокол?";
    const TAnswer answer =
        cancelable ? prompter_.QuestionCancel(text, "Внимание.")
                   : (prompter_.Question(text, "Внимание.") ? anYes : anNo);
    if (answer == anCancel) return false;
    if (answer == anNo) return true;
    bool saved = false;
    Guarded(prompter_, [&] { saved = Save(); });
    // A save the technician cancelled keeps the window where that was the technician's own choice.
    return saved || !cancelable;
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
        // The program ends here in any case; what it verified is offered for saving first.
        AskToSave(false);
        page_.SetStopReason(reason);
        w_.Closing = true;
        page_.Close();
    });
}

}  // namespace rv
