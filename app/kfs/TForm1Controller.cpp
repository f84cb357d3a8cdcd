// The KFS writer window: its components and bindings, connect and disconnect, the identity answer and the read
// chain of the records, repetitions, and the sensor choice that shows the coefficients.
#include "app/kfs/TForm1Controller.h"

#include "app/window/Guarded.h"
#include "app/window/ProtocolFormat.h"
#include "core/IDeviceLink.h"
#include "core/Loop.h"
#include "core/TTimer.h"
#include "meter/TRurIvaQs_6x6.h"

#include <optional>

namespace rv {

TForm1Controller::TForm1Controller(IDeviceLink& link, IPrompter& prompter, Loop* loop)
    : prompter_(prompter),
      connection_(link, loop ? *loop : Loop::Current(), 1000, kSensorBytesKept,
                  [this](std::exception_ptr error) { Escaped(error); }),
      LastData(MakeTimer(loop ? *loop : Loop::Current(), "LastData", 10)),
      write_(std::make_unique<TKfsWrite>(connection_, prompter, f_, static_cast<TKfsWrite::IHost&>(*this)))
{
    BindHandlers();
}

TForm1Controller::~TForm1Controller()
{
    LastData->Stop();
}

void TForm1Controller::BindHandlers()
{
    connection_.OnIdentity = Bind(this, &TForm1Controller::Identified);
    connection_.OnRead = Bind(this, &TForm1Controller::RecordsRead);
    connection_.OnRepetition = [this](int n) { SetStatus(TMeterConnection::RepetitionStatus(n)); };
    connection_.OnLost = Bind(this, &TForm1Controller::PortLost);
    connection_.OnSilent = [this] {
        if (prompter_.Question("Прибор не отвечает. Проверьте кабель, порт и адрес прибора. Продолжать попытки?",
                               "Внимание.")) {
            connection_.KeepTrying();
            return;
        }
        view_.SBOpenCloseDown = false;
        Disconnect("Запись прервана: прибор не отвечает.");
        Stop("Прибор не отвечает.");
    };
    LastData->OnTimer = Bind(this, &TForm1Controller::LastDataTimer);
}

// --- View state and references

void TForm1Controller::SetCBPortNameItems(std::vector<std::string> items)
{
    view_.CBPortNameItems = std::move(items);
    if (view_.CBPortNameItemIndex >= static_cast<int>(view_.CBPortNameItems.size())) view_.CBPortNameItemIndex = -1;
}

void TForm1Controller::SetCBPortNameItemIndex(int index)
{
    if (index < 0 || index >= static_cast<int>(view_.CBPortNameItems.size())) return;
    view_.CBPortNameItemIndex = index;
    view_.CBPortNameText = view_.CBPortNameItems[static_cast<size_t>(index)];
}

void TForm1Controller::SetKfsControls(const std::array<SKfsLabel*, kKfsFields>& labels,
                                      const std::array<SKfsEdit*, kKfsFields>& edits)
{
    KfsLabels = labels;
    KfsEdits = edits;
}

void TForm1Controller::ClearReferences()
{
    StatusLabel = nullptr;
    KfsLabels.fill(nullptr);
    KfsEdits.fill(nullptr);
}

void TForm1Controller::SetStatus(const std::string& text)
{
    StatusLabel(text);
}

void TForm1Controller::SetStage(TForm1Stage stage)
{
    stage_ = stage;
    if (stage != fsStopped) stopReason_.clear();
    Notify(fcStage);
}

void TForm1Controller::Stop(const std::string& message)
{
    prompter_.Message(message, "Ошибка");
    stopReason_ = message;
    stage_ = fsStopped;
    Notify(fcStage);
}

template <class F>
void TForm1Controller::Guarded(F&& body)
{
    try {
        body();
    } catch (...) {
        Escaped(std::current_exception());
    }
}

void TForm1Controller::Escaped(std::exception_ptr error)
{
    const std::string what = ShowEscaped(prompter_, error);
    try {
        write_->Interrupt(what);
    } catch (...) {
        // Nothing more can be done for this write.
    }
}

std::string TForm1Controller::FieldText(int k) const
{
    const SKfsEdit* edit = k >= 0 && k < kKfsFields ? KfsEdits[static_cast<size_t>(k)] : nullptr;
    return edit ? edit->Text : std::string();
}

void TForm1Controller::SetTraceHook(TraceHook hook)
{
    connection_.Net().SetTraceHook(std::move(hook));
}

// --- Connection

void TForm1Controller::AbandonAll(const std::string& whyWriteEnds)
{
    LastData->Stop();
    connection_.Abandon();
    write_->Abandon(whyWriteEnds);
    shown_ = false;
}

void TForm1Controller::SpeedButton2Click()
{
    Guarded([&] {
        if (view_.SBOpenCloseDown)
            Connect();
        else
            Disconnect("Запись прервана: соединение закрыто.");
    });
}

void TForm1Controller::Connect()
{
    AbandonAll("Запись прервана: соединение открыто заново.");
    write_->Reset();
    // What an earlier connection showed belongs to its meter.
    ClearFields();
    view_.CBPortNameEnabled = false;
    Notify(fcControls);
    std::string failure;
    if (!connection_.Connect(view_.CBPortNameText, failure)) {
        view_.SBOpenCloseDown = false;
        view_.CBPortNameEnabled = true;
        Notify(fcControls);
        Stop(failure);
        return;
    }
    SetStage(fsIdentifying);
}

void TForm1Controller::Disconnect(const std::string& whyWriteEnds)
{
    AbandonAll(whyWriteEnds);
    view_.CBPortNameEnabled = true;
    connection_.Disconnect();
    Notify(fcControls);
    SetStage(fsIdle);
}

void TForm1Controller::Identified(const SIDDevice& id)
{
    if (stage_ != fsIdentifying) return;
    f_.Identity = id;
    f_.SoftwareVersion = id.Version;
    SetStage(fsReading);
    SetStatus("Чтение конфигурации прибора.");
    connection_.ReadRecords();
}

void TForm1Controller::RecordsRead(TReadProgress progress)
{
    if (stage_ != fsReading) return;
    if (progress == rpConfigRead) {
        f_.PathsPerSensor = PathsPerSensorOf(connection_.Chain().ConfigImage());
        SetStatus("Чтение инвормации датчиков.");
    } else if (progress == rpSensorsRead) {
        SetStatus("OK");
        SetStage(fsChoosing);
        LastData->SetEnabled(true);
    }
}

void TForm1Controller::PortLost(const std::string& message)
{
    view_.SBOpenCloseDown = false;
    Disconnect("Запись прервана. " + message);
    Stop(message);
}

void TForm1Controller::Button1Click()
{
    Guarded([&] {
        // A write needs the coefficients of this connection and no other write under way.
        if (stage_ != fsShowing || !shown_ || !connection_.Link().GetOpen()) return;
        write_->Start(coefficients_);
    });
}

// --- Sensor choice

void TForm1Controller::LastDataTimer(TObject*)
{
    Guarded([&] {
        LastData->Stop();
        if (stage_ != fsChoosing) return;
        const int paths = f_.PathsPerSensor;
        // The stride of the choices and the records a write touches follow from it: anything else has no meaning.
        if (paths != 1 && paths != 3) {
            Stop("Недопустимое число путей на датчик в конфигурации прибора: " + std::to_string(paths) +
                 " (допустимо 1 или 3).");
            return;
        }
        const std::vector<SSensorChoice> choices = SensorChoices(connection_.Chain().SensorImage(), paths);
        const std::optional<int> chosen = prompter_.ChooseSensor(sdChange, choices);
        // The dialog may have outlived the connection.
        if (stage_ != fsChoosing) return;
        if (choices.empty()) {
            Stop("В приборе нет датчиков: изменять нечего.");
            return;
        }
        if (chosen) {
            for (const SSensorChoice& c : choices)
                if (c.Position == *chosen) f_.SelectedSensor = c.Position;
        }
        ShowCoefficients(choices);
    });
}

void TForm1Controller::SetField(int k, bool visible, const std::string& caption, const std::string& text)
{
    if (SKfsLabel* label = KfsLabels[static_cast<size_t>(k)]) {
        label->Caption = caption;
        label->Visible = visible;
    }
    if (SKfsEdit* edit = KfsEdits[static_cast<size_t>(k)]) {
        edit->Text = text;
        edit->Visible = visible;
    }
}

void TForm1Controller::ClearFields()
{
    for (int k = 0; k < kKfsFields; ++k) SetField(k, false, "", "");
    Notify(fcKfs);
}

void TForm1Controller::RestoreFields()
{
    for (int k = 0; k < kKfsFields; ++k) {
        SKfsEdit* edit = KfsEdits[static_cast<size_t>(k)];
        if (edit && edit->Visible) edit->Text = FixedText(f_.OldKfs[static_cast<size_t>(k)], 7);
    }
    Notify(fcKfs);
}

void TForm1Controller::WriteEnded()
{
    // The meter was not put into correction mode: nothing was written, and the page shows what the meter holds.
    if (write_->Result() == wrCancelled) RestoreFields();
    Notify(fcWrite);
}

void TForm1Controller::ShowCoefficients(const std::vector<SSensorChoice>& choices)
{
    const int s = f_.SelectedSensor;
    const TSensorImages& images = connection_.Chain().SensorImage();
    const SSensorRecord sensor = SSensorRecord::Decode(images[static_cast<size_t>(s)]);
    // The records whose coefficients are shown: s, and for a three-path sensor of 0.15 m or more s + 1 and s + 2
    // where they exist (a record past the sixth does not, and its field stays hidden). A one-path sensor shows the
    // one field its write takes: the next records belong to other sensors, and a value typed there would go
    // nowhere.
    const bool three = static_cast<double>(sensor.Diameter) >= kThreePathDiameter && f_.PathsPerSensor == 3;
    std::array<std::optional<SSensorRecord>, kKfsFields> records;
    for (int j = 0; j < (three ? kKfsFields : 1); ++j)
        if (s + j < flash::kSensorCount)
            records[static_cast<size_t>(j)] = SSensorRecord::Decode(images[static_cast<size_t>(s + j)]);
    // A coefficient shown must be a number the technician can read and the journal can keep as the old value.
    std::string fault = SensorRecordFault(sensor, s);
    f_.KfsMismatch.clear();
    for (int j = 0; j < kKfsFields; ++j) {
        const std::optional<SSensorRecord>& record = records[static_cast<size_t>(j)];
        if (!record) continue;
        if (fault.empty()) fault = KfsValueFault(*record, s + j);
        if (const std::string mismatch = KfsTextMismatch(*record, s + j); !mismatch.empty())
            f_.KfsMismatch += (f_.KfsMismatch.empty() ? "" : " ") + mismatch;
    }
    if (!fault.empty()) {
        f_.KfsMismatch.clear();
        Stop(fault + " Изменение KFS невозможно.");
        return;
    }
    f_.ModuleIndex = static_cast<uint8_t>(sensor.Module - 1);
    f_.TypeIndex = static_cast<uint8_t>(sensor.Type - 1);
    caption_ = SensorChoiceCaption(sensor);
    for (const SSensorChoice& c : choices)
        if (c.Position == s) caption_ = c.Caption;
    const std::string& caption = caption_;

    if (three) {
        for (int j = 0; j < kKfsFields; ++j) {
            const std::optional<SSensorRecord>& record = records[static_cast<size_t>(j)];
            f_.OldKfs[static_cast<size_t>(j)] = record ? record->KfsValue : 0.0f;
            // Each field is one path's coefficient: its label says which.
            SetField(j, record.has_value(), caption + ": KFS " + std::to_string(j + 1),
                     record ? FixedText(record->KfsValue, 7) : "");
        }
        coefficients_ = kKfsFields;
    } else {
        const std::string text = FixedText(sensor.KfsValue, 7);
        f_.OldKfs.fill(sensor.KfsValue);
        SetField(0, true, caption, text);
        // The other two fields belong to a three-path sensor; left visible from an earlier one they would offer
        // coefficients this write does not touch.
        SetField(1, false, caption, text);
        SetField(2, false, caption, text);
        coefficients_ = 1;
    }
    shown_ = true;
    Notify(fcKfs);
    // The meter holds both forms and the write replaces both; the technician is told and goes on.
    if (!f_.KfsMismatch.empty()) SetStatus(f_.KfsMismatch);
    SetStage(fsShowing);
}

}  // namespace rv
