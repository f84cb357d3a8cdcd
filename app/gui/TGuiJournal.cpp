// The GUI's side of the verification journal.
#include "app/gui/TGuiJournal.h"

#include "app/gui/RecordDocuments.h"
#include "app/gui/TAboutBox.h"
#include "app/gui/TConditionsForm.h"
#include "app/gui/TFMain.h"
#include "app/gui/TJournalPage.h"
#include "app/gui/TLaboratoryDialog.h"
#include "app/gui/TPointsTable.h"
#include "app/gui/TRunPanel.h"
#include "app/gui/TVerdictView.h"
#include "app/window/IPrompter.h"
#include "journal/TJournal.h"

#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace rv {

namespace {

constexpr const char* kCaption = "Журнал поверок";

bool SameConditions(const journal::SConditions& a, const journal::SConditions& b)
{
    return a.AirTemperature == b.AirTemperature && a.Humidity == b.Humidity && a.Pressure == b.Pressure &&
           a.Other == b.Other;
}

}  // namespace

TGuiJournal::TGuiJournal(TFMainController& controller, TFMain& window, IPrompter& prompter)
    : controller_(controller), window_(window), prompter_(prompter)
{
    lab_ = journal::LoadLaboratorySettings(journal::LaboratorySettingsPath());
    context_.Technician = lab_.Technician;
    context_.ProgramVersion = ProgramVersion();
    context_.Conditions = lab_.DefaultConditions;
    try {
        journal_ = std::make_unique<journal::TJournal>(lab_.JournalLocation);
    } catch (const std::exception& e) {
        unavailable_ = e.what();
    }
    if (journal_) {
        recorder_ = std::make_unique<TRunRecorder>(controller_, *journal_, context_);
        // Told once the run's own handler has returned: a modal box must not run the event loop in the middle of
        // the run's step.
        recorder_->OnError = [this](const std::string& message) {
            QTimer::singleShot(0, this, [this, message] { prompter_.Message(message, kCaption); });
        };
        recorder_->OnRecorded = [this](int64_t) { recorded_ = true; };
    }
    // The recorder first, so that the run's end finds its verdict taken.
    Event<void(TFMainController::TRunEvent)> record = controller_.OnRunEvent;
    controller_.OnRunEvent = [this, record](TFMainController::TRunEvent event) {
        record(event);
        RunEvent(event);
    };

    panel_ = new TRunPanel;
    panel_->setFont(window_.font());
    window_.SetRunPanel(panel_);
    panel_->ShowConditions(context_.Conditions, journal_ != nullptr);
    connect(panel_, &TRunPanel::ConditionsClicked, this, [this] { EditConditions(); });
    connect(panel_, &TRunPanel::PrintClicked, this, [this] { PrintLastRun(); });
    connect(&window_, &TFMain::ViewChanged, this, [this](int change) {
        if (change == vcPoints) PointsChanged();
    });

    page_ = new TJournalPage(journal_.get(), unavailable_, lab_, prompter_);
    window_.PageControl1->addTab(page_, QStringLiteral("Журнал"));
    // The list is read when it comes into view, so that it shows the runs done meanwhile.
    connect(window_.PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (page_ && window_.PageControl1->currentWidget() == page_) page_->Reload();
    });
    connect(window_.SBSettings, &QToolButton::clicked, this, [this] { EditLaboratory(); });

    if (!journal_) window_.setWindowTitle(QStringLiteral("Rivanta — поверки не записываются в журнал"));
    // Room for the points under the protocol.
    window_.resize(std::max(window_.width(), 640), std::max(window_.height(), 720));
}

TGuiJournal::~TGuiJournal()
{
    controller_.OnRunEvent = nullptr;
    // The page reads the journal; it goes first.
    delete page_;
    recorder_.reset();
    journal_.reset();
}

void TGuiJournal::Shown()
{
    if (journal_) return;
    QTimer::singleShot(0, this, [this] {
        prompter_.Message("Журнал поверок не открыт: " + unavailable_ +
                              "\n\nПрограмма работает без журнала: поверки не записываются. Место журнала задаётся в "
                              "настройках лаборатории.",
                          kCaption);
    });
}

void TGuiJournal::RunEvent(TFMainController::TRunEvent event)
{
    switch (event) {
        case TFMainController::reStarted:
            underWay_ = true;
            recorded_ = false;
            unrecorded_.reset();
            if (panel_) {
                panel_->Verdict->Clear();
                panel_->PrintButton->setEnabled(false);
            }
            break;
        case TFMainController::rePoint:
            // The table follows the view's points (vcPoints).
            break;
        case TFMainController::reEnded:
            underWay_ = false;
            ended_ = true;
            if (!recorded_) unrecorded_ = TRunRecorder::Snapshot(controller_, context_);
            ShowVerdict();
            if (page_ && window_.PageControl1->currentWidget() == page_) page_->Reload();
            break;
    }
}

void TGuiJournal::PointsChanged()
{
    if (!panel_) return;
    const std::vector<SRunPoint>& points = controller_.View().RunPoints;
    TPointsTable* table = panel_->Points;
    if (points.size() < static_cast<size_t>(table->rowCount())) table->Clear();
    for (size_t i = static_cast<size_t>(table->rowCount()); i < points.size(); ++i)
        table->AddPoint(TRunRecorder::PointOf(points[i]));
}

void TGuiJournal::ShowVerdict()
{
    if (!panel_) return;
    if (recorded_ && recorder_ && recorder_->Verdict()) {
        panel_->Verdict->Show(recorder_->Verdict()->State, recorder_->Verdict()->Outcome);
    } else if (unrecorded_) {
        panel_->Verdict->Show(unrecorded_->State, unrecorded_->Outcome);
    }
    panel_->PrintButton->setEnabled(true);
}

void TGuiJournal::EditLaboratory()
{
    TLaboratoryDialog dialog(lab_, journal::LaboratorySettingsPath(), &window_);
    if (dialog.exec() != QDialog::Accepted) return;
    const journal::SLaboratorySettings before = lab_;
    lab_ = dialog.Settings();
    context_.Technician = lab_.Technician;
    // Conditions the technician has not entered for this session follow the new defaults.
    if (SameConditions(context_.Conditions, before.DefaultConditions)) context_.Conditions = lab_.DefaultConditions;
    if (recorder_) recorder_->SetContext(context_);
    if (panel_) panel_->ShowConditions(context_.Conditions, journal_ != nullptr);
    emit ContextChanged();
    if (lab_.JournalLocation != before.JournalLocation)
        prompter_.Message("Журнал поверок в новом месте будет открыт при следующем запуске программы.",
                          "Настройки лаборатории");
}

void TGuiJournal::EditConditions()
{
    QString note;
    if (!journal_)
        note = QStringLiteral("Журнал не ведётся: условия войдут только в напечатанный протокол.");
    else if (underWay_)
        note = QStringLiteral("Условия будут записаны с идущей поверкой и со следующими.");
    else
        note = QStringLiteral("Условия будут записаны со следующими поверками.");
    journal::SConditions conditions = context_.Conditions;
    if (!rv::EditConditions(&window_, conditions, note)) return;
    context_.Conditions = conditions;
    if (panel_) panel_->ShowConditions(conditions, journal_ != nullptr);
    emit ContextChanged();
    if (!recorder_) return;
    recorder_->SetContext(context_);
    if (!underWay_ || recorder_->RecordId() == 0) return;
    try {
        journal_->SetConditions(recorder_->RecordId(), conditions);
    } catch (const std::exception& e) {
        prompter_.Message(e.what(), kCaption);
    }
}

void TGuiJournal::PrintLastRun()
{
    if (!ended_ || underWay_) return;
    std::optional<journal::SVerificationRecord> record = unrecorded_;
    if (!record && journal_ && recorder_) {
        try {
            record = journal_->Get(recorder_->RecordId());
        } catch (const std::exception& e) {
            prompter_.Message(e.what(), kCaption);
            return;
        }
    }
    if (!record) {
        prompter_.Message("Запись последней поверки не найдена в журнале.", kCaption);
        return;
    }
    PrintProtocols(&window_, prompter_, {*record}, lab_);
}

}  // namespace rv
