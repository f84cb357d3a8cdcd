// The headless KFS write: the answers of the boxes and dialogs, and the course of the write.
#include "app/runner/TKfsWriteRun.h"

#include "app/verify/TFMainController.h"
#include "app/kfs/TKfsPageController.h"
#include "app/window/MeterImages.h"
#include "core/Loop.h"

namespace rv {

TKfsWriteRun::TKfsWriteRun(SKfsWriteOptions options, std::ostream& out, std::ostream& log)
    : THeadlessRun(log), options_(std::move(options)), out_(out)
{
}

TKfsWriteRun::~TKfsWriteRun()
{
    if (page_) page_->OnViewChanged = nullptr;
    if (main_) main_->OnViewChanged = nullptr;
}

void TKfsWriteRun::Start(TFMainController& main, TKfsPageController& page, Loop& loop, const std::string& portName)
{
    main_ = &main;
    page_ = &page;
    loop_ = &loop;
    main_->OnViewChanged = [this](TViewChange change) {
        if (change == vcStatus && !finished_) LogStatus(main_->View().LStatusCaption);
    };
    page_->OnViewChanged = [this](TKfsPageChange change) { PageChanged(change); };
    page_->SetComboBox1Text(portName);
    page_->SetSpeedButton2Down(true);
    Log("Соединение с прибором через " + portName);
    page_->SpeedButton2Click();
}

void TKfsWriteRun::PageChanged(int change)
{
    if (finished_) return;
    TForm1Controller& form1 = page_->Form1();
    switch (change) {
        case kcStage:
            if (form1.Stage() == fsIdentifying) opened_ = true;
            if (form1.Stage() == fsShowing && !pressed_) {
                pressed_ = true;
                // Pressed from the loop, not from inside the handler that showed the coefficients.
                loop_->Post([this] { Press(); });
            } else if (form1.Stage() == fsStopped) {
                // The connect button comes up when the port would not open, or was lost once open.
                const int lost = opened_ ? veLineLost : vePort;
                Finish(page_->View().SpeedButton2Down ? veIncomplete : lost, form1.StopReason());
            }
            break;
        case kcWrite:
            switch (form1.WriteResult()) {
                case wrDone:
                    out_ << form1.WriteMessage() << (form1.WriteMessage().back() == '\n' ? "" : "\n") << std::flush;
                    Finish(veComplete, "Изменение KFS записано и проверено.");
                    break;
                case wrAbandoned:  // in the runner only a lost line closes the connection under a write
                    Finish(veLineLost, form1.WriteMessage());
                    break;
                case wrDeclined:
                    Finish(veStopped, form1.WriteMessage());
                    break;
                default:
                    Finish(veIncomplete, form1.WriteMessage());
                    break;
            }
            break;
        default:
            break;
    }
}

void TKfsWriteRun::Press()
{
    if (finished_) return;
    TForm1Controller& form1 = page_->Form1();
    std::vector<std::string> values;
    std::string error;
    if (!SplitKfsValues(options_.Values, form1.CoefficientCount(), values, error)) {
        Finish(veUsage, error);
        return;
    }
    for (size_t k = 0; k < values.size(); ++k) {
        // A three-path sensor's labels name their path already.
        Log(page_->View().Label[k].Caption + (values.size() > 1 ? "" : ": KFS") + " " +
            page_->View().EditDigital[k].Text + " -> " + values[k]);
        page_->SetEditDigitalText(static_cast<int>(k), values[k]);
    }
    Log("Записать");
    page_->Button2Click();
}

void TKfsWriteRun::Release(std::function<void()> done)
{
    if (page_->View().SpeedButton2Down) {
        page_->SetSpeedButton2Down(false);
        page_->SpeedButton2Click();
    }
    done();
}

void TKfsWriteRun::Stop(const std::string& reason)
{
    if (finished_) return;
    // A write stopped part way is abandoned as a closed connection abandons it; what it reached stays logged.
    Finish(veStopped, "Запись прервана: " + reason + ".");
}

bool TKfsWriteRun::Question(const std::string& text, const std::string& caption)
{
    // The sensor and the values of --kfs-write are the technician's own: they confirm the write, and --answer is
    // left to what only a person could judge (an unusual coefficient, the correction mode).
    if (page_->Form1().Confirming()) return Answer(text, caption, true);
    // Each Yes to the correction-mode question asks the meter again at once: without a hand to switch it, a few
    // asks are enough. The question about an unusual coefficient comes before, and takes the answer as given.
    if (page_->Form1().Stage() != fsChecking) return Answer(text, caption, options_.Common.AnswerYes);
    return Answer(text, caption, options_.Common.AnswerYes && ++asks_ <= kMaxCorrectionAsks);
}

std::optional<int> TKfsWriteRun::ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices)
{
    const std::string offered = LogChoices(dialog, choices);
    for (const SSensorChoice& c : choices)
        if (c.Position == options_.Position) return c.Position;
    if (!choices.empty())
        Finish(veUsage, "Датчик в позиции " + std::to_string(options_.Position) +
                            " не предлагается для изменения; предлагаются позиции " + offered + ".");
    return std::nullopt;
}

std::optional<std::string> TKfsWriteRun::SaveFileName(const SSaveDialog&)
{
    return std::nullopt;
}

void TKfsWriteRun::ShowException(const std::exception& error)
{
    Log(std::string("Ошибка: ") + error.what());
    Finish(veIncomplete, error.what());
}

}  // namespace rv
