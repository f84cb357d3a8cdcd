// The KFS writer window without its widgets. It is never shown: the main window's KFS page drives it and lends
// it the status line, the coefficient labels and fields. It has its own device link and meter command set,
// reads the records, lets the technician choose a sensor, shows its KFS coefficient(s) and writes changed
// ones back: floats, texts, a save per channel, a journal record per coefficient, all read back before the
// change is reported done.
//
// Threading: every operation, handler and notification runs on the loop thread. No exception leaves a
// handler: one that escapes is shown through the prompter; a write it interrupts ends as failed.
#pragma once

#include "app/kfs/Form1View.h"
#include "app/kfs/TKfsWrite.h"
#include "app/window/IPrompter.h"
#include "app/window/MeterImages.h"
#include "app/window/TMeterConnection.h"
#include "core/Event.h"
#include "core/Trace.h"
#include "meter/MeterRecords.h"

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace rv {

class IDeviceLink;
class Loop;
class TObject;
class TRurIvaQs_6x6;
class TTimer;

class TForm1Controller : private TKfsWrite::IHost {
public:
    using TStatusLine = Event<void(const std::string& Caption)>;

    static constexpr int kKfsFields = 3;
    static constexpr int kJournalLimit = TKfsWrite::kJournalLimit;
    static constexpr uint8_t kKfsEventCode = TKfsWrite::kKfsEventCode;

    // The link is the window's own device link (not owned; it must outlive the controller). Timers and the
    // meter command set run on loop (the current loop when null).
    TForm1Controller(IDeviceLink& link, IPrompter& prompter, Loop* loop = nullptr);
    // Abandons any request under way and closes the port if this window opened it.
    ~TForm1Controller();
    TForm1Controller(const TForm1Controller&) = delete;
    TForm1Controller& operator=(const TForm1Controller&) = delete;

    // --- View
    const SForm1View& View() const { return view_; }
    TForm1Stage Stage() const { return stage_; }
    const std::string& StopReason() const { return stopReason_; }
    // True once the coefficients of a sensor are shown on this connection (the write may be started).
    bool CoefficientsShown() const { return shown_; }
    // How many coefficients the write of the chosen sensor writes: 1, or 3 for a three-path sensor of
    // 0.15 m or more. Valid while CoefficientsShown().
    int CoefficientCount() const { return coefficients_; }
    TKfsWriteResult WriteResult() const { return write_->Result(); }
    // The write asks the technician to confirm it (the sensor, the old and the new values).
    bool Confirming() const { return write_->Confirming(); }
    // The final message of a write that was done, or the error of one that failed.
    const std::string& WriteMessage() const { return write_->Message(); }
    Event<void(TForm1Change change)> OnViewChanged;

    // --- Inputs, set by the page that drives the window. No notification follows.
    void SetCBPortNameItems(std::vector<std::string> items);
    // An index outside the items leaves the text as it is.
    void SetCBPortNameItemIndex(int index);
    void SetCBPortNameText(const std::string& text) { view_.CBPortNameText = text; }
    void SetSBOpenCloseDown(bool down) { view_.SBOpenCloseDown = down; }
    // The control references: the main window's status line and the page's labels and fields. Null
    // references are skipped; they must stay valid while set.
    void SetStatusLabel(TStatusLine status) { StatusLabel = std::move(status); }
    void SetKfsControls(const std::array<SKfsLabel*, kKfsFields>& labels,
                        const std::array<SKfsEdit*, kKfsFields>& edits);
    // Drops every reference (the page is going away).
    void ClearReferences();

    // --- Handlers bound to the page's controls
    // Connect or disconnect, by SBOpenCloseDown.
    void SpeedButton2Click();
    // "Записать": the write of the coefficients in the fields.
    void Button1Click();

    // --- What the steps keep
    const SForm1Fields& Fields() const { return f_; }
    int ReadStep() const { return connection_.Chain().ReadStep(); }
    const TConfigImage& ConfigImage() const { return connection_.Chain().ConfigImage(); }
    // Bytes 0..199 of each record; the rest stays zero.
    const TSensorImages& SensorImage() const { return connection_.Chain().SensorImage(); }
    TRurIvaQs_6x6& Net_6x6() { return connection_.Net(); }
    void SetTraceHook(TraceHook hook);

    // Bytes of each sensor record the window keeps.
    static constexpr size_t kSensorBytesKept = 200;

private:
    void Connect();
    // whyWriteEnds: the message of a write under way, which ends as abandoned.
    void Disconnect(const std::string& whyWriteEnds);
    // Stops the timers and the request under way; no handler of an earlier step fires afterwards.
    void AbandonAll(const std::string& whyWriteEnds);
    // Events of the connection.
    void Identified(const SIDDevice& id);
    void RecordsRead(TReadProgress progress);
    void PortLost(const std::string& message);
    void LastDataTimer(TObject* Sender);
    void ShowCoefficients(const std::vector<SSensorChoice>& choices);
    void SetField(int k, bool visible, const std::string& caption, const std::string& text);
    // Nothing of a meter on the page: every label and field empty and hidden.
    void ClearFields();
    // The fields shown get the coefficients as the meter holds them again.
    void RestoreFields();
    void Stop(const std::string& message);
    void Notify(TForm1Change change) { OnViewChanged(change); }
    void BindHandlers();
    // Runs a handler body; an exception that escapes is shown by the prompter and ends a write under way.
    template <class F>
    void Guarded(F&& body);

    // TKfsWrite::IHost
    void SetStage(TForm1Stage stage) override;
    void SetStatus(const std::string& text) override;
    std::string FieldText(int k) const override;
    std::string SensorCaption() const override { return caption_; }
    void WriteEnded() override;
    void Escaped(std::exception_ptr error) override;

    IPrompter& prompter_;
    TMeterConnection connection_;
    std::unique_ptr<TTimer> LastData;
    std::unique_ptr<TKfsWrite> write_;

    SForm1View view_;
    SForm1Fields f_;
    TStatusLine StatusLabel;
    std::array<SKfsLabel*, kKfsFields> KfsLabels{};
    std::array<SKfsEdit*, kKfsFields> KfsEdits{};

    TForm1Stage stage_ = fsIdle;
    std::string stopReason_;
    bool shown_ = false;
    int coefficients_ = 1;
    std::string caption_;  // the chosen sensor, as its dialog named it
};

}  // namespace rv
