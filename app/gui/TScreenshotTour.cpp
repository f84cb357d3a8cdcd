// The screenshot walk through the windows.
#include "app/gui/TScreenshotTour.h"

#include "app/verify/TFMainController.h"
#include "app/gui/TFMain.h"
#include "app/gui/TBenchPage.h"
#include "app/gui/TFSelectSensor.h"
#include "app/gui/TGuiJournal.h"
#include "app/gui/TJournalPage.h"
#include "app/gui/TKfsPage.h"
#include "app/gui/TLaboratoryDialog.h"
#include "app/gui/TRivantaGui.h"
#include "app/gui/TRunPanel.h"
#include "app/kfs/TForm1Controller.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

namespace rv {

namespace {
// Time for a window to be laid out and painted before it is taken.
constexpr int kSettleMs = 400;
// The header comes within seconds; the run with its pauses between the test points takes about half a minute more.
constexpr int kLimitMs = 60'000;
constexpr int kRunLimitMs = 180'000;
constexpr int kBenchRunMs = 7000;
}  // namespace

TScreenshotTour::TScreenshotTour(TRivantaGui& gui, const QString& dir) : gui_(gui), dir_(dir) {}

TScreenshotTour::~TScreenshotTour() = default;

void TScreenshotTour::Start()
{
    if (!QDir().mkpath(dir_)) {
        Fail(QStringLiteral("cannot create ") + dir_);
        return;
    }
    gui_.FSelectSensorTest().installEventFilter(this);
    gui_.FSelectSensor().installEventFilter(this);
    connect(&gui_.FMain(), &TFMain::ViewChanged, this, [this] { OnViewChanged(); });
    connect(&gui_.KfsPage(), &TKfsPage::ViewChanged, this, [this] { OnKfsPageChanged(); });
    QTimer::singleShot(kSettleMs, this, [this] { TakeKfsPage(); });
    QTimer::singleShot(kLimitMs, this, [this] {
        if (!mainTaken_) Fail(QStringLiteral("the meter did not get to the protocol header in time"));
    });
    QTimer::singleShot(kRunLimitMs, this, [this] {
        if (!verdictTaken_) Fail(QStringLiteral("the verification did not end in time"));
    });
}

void TScreenshotTour::TakeKfsPage()
{
    gui_.FMain().PageControl1->setCurrentIndex(1);
    QTimer::singleShot(kSettleMs, this, [this] {
        if (!Save(&gui_.FMain(), QStringLiteral("kfs-page-idle.png"))) return;
        gui_.KfsPage().ComboBox1->showPopup();
        QTimer::singleShot(kSettleMs, this, [this] {
            QComboBox* box = gui_.KfsPage().ComboBox1;
            if (!Save(box->view()->window(), QStringLiteral("port-list.png"))) return;
            box->hidePopup();
            gui_.KfsPage().SpeedButton2->click();
        });
    });
}

void TScreenshotTour::OnKfsPageChanged()
{
    if (kfsTaken_ || gui_.Form1Controller().Stage() != fsShowing) return;
    kfsTaken_ = true;
    QTimer::singleShot(kSettleMs, this, [this] {
        if (!Save(&gui_.FMain(), QStringLiteral("kfs-page.png"))) return;
        // The verification page is reachable once the KFS page has let its connection go.
        gui_.KfsPage().SpeedButton2->click();
        gui_.FMain().PageControl1->setCurrentIndex(0);
        QTimer::singleShot(kSettleMs, this, [this] { gui_.FMain().SBOpenClose->click(); });
    });
}

bool TScreenshotTour::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &gui_.FSelectSensor() && event->type() == QEvent::Show)
        QTimer::singleShot(kSettleMs, this, [this] { gui_.FSelectSensor().BitBtn1->click(); });
    if (watched == &gui_.FSelectSensorTest() && event->type() == QEvent::Show && !dialogTaken_) {
        dialogTaken_ = true;
        QTimer::singleShot(kSettleMs, this, [this] {
            TFSelectSensorTest& dialog = gui_.FSelectSensorTest();
            Save(&dialog, QStringLiteral("sensor-dialog.png"));
            dialog.BitBtn1->click();
        });
    }
    return QObject::eventFilter(watched, event);
}

void TScreenshotTour::OnViewChanged()
{
    const TMainStage stage = gui_.Controller().Stage();
    if (!mainTaken_ && stage == msReady) {
        mainTaken_ = true;
        QTimer::singleShot(kSettleMs, this, [this] { TakeMainWindow(); });
    } else if (runStarted_ && !verdictTaken_ && (stage == msDone || stage == msStopped)) {
        verdictTaken_ = true;
        QTimer::singleShot(kSettleMs, this, [this] { TakeVerdict(); });
    }
}

void TScreenshotTour::TakeMainWindow()
{
    if (!Save(&gui_.FMain(), QStringLiteral("main-window.png"))) return;
    TakeModal(QStringLiteral("about-box.png"), [this] { gui_.FMain().SpeedButton3->click(); });
    TakeModal(QStringLiteral("save-dialog.png"), [this] { gui_.FMain().SpeedButton1->click(); });
    // The settings at their registry page, the richest of them.
    TakeModal(QStringLiteral("laboratory-dialog.png"), [this] {
        QTimer::singleShot(0, this, [] {
            if (auto* d = qobject_cast<TLaboratoryDialog*>(QApplication::activeModalWidget()))
                d->Pages->setCurrentIndex(1);
        });
        gui_.FMain().SBSettings->click();
    });
    TakeModal(QStringLiteral("conditions-dialog.png"), [this] { gui_.Journal().RunPanel().ConditionsButton->click(); });
    if (failed_) return;
    runStarted_ = true;
    gui_.FMain().Button1->click();
}

void TScreenshotTour::TakeVerdict()
{
    if (!Save(&gui_.FMain(), QStringLiteral("verification-verdict.png"))) return;
    TJournalPage& page = gui_.Journal().JournalPage();
    gui_.FMain().PageControl1->setCurrentWidget(&page);
    page.Table->selectRow(0);
    QTimer::singleShot(kSettleMs, this, [this] { TakeJournal(); });
}

void TScreenshotTour::TakeJournal()
{
    TJournalPage& page = gui_.Journal().JournalPage();
    if (!Save(&gui_.FMain(), QStringLiteral("journal-page.png"))) return;
    TakeModal(QStringLiteral("record-dialog.png"), [&page] { page.OpenRow(0); });
    if (!failed_) TakeBenchPage();
}

void TScreenshotTour::TakeBenchPage()
{
    TBenchPage& page = gui_.BenchPage();
    if (page.Table->rowCount() == 0) {
        QCoreApplication::exit(0);
        return;
    }
    gui_.FMain().PageControl1->setCurrentWidget(&page);
    page.ButtonStartAll->click();
    // Some seconds into the runs: the meters stand in their sweeps and points.
    QTimer::singleShot(kBenchRunMs, this, [this, &page] {
        if (!Save(&gui_.FMain(), QStringLiteral("bench-page.png"))) return;
        QDialog* dialog = page.ShowMeter(0);
        QTimer::singleShot(kSettleMs, this, [this, &page, dialog] {
            if (!dialog || !Save(dialog, QStringLiteral("bench-meter.png"))) return;
            dialog->close();
            // Every meter switches its emulation off before the program ends.
            page.ButtonStopAll->click();
            auto* wait = new QTimer(this);
            connect(wait, &QTimer::timeout, this, [this] {
                if (!gui_.Bench().AnyRunning()) QCoreApplication::exit(failed_ ? 1 : 0);
            });
            wait->start(100);
        });
    });
}

void TScreenshotTour::TakeModal(const QString& name, const std::function<void()>& run)
{
    QTimer::singleShot(kSettleMs, this, [this, name] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            Fail(QStringLiteral("no dialog for ") + name);
            return;
        }
        Save(dialog, name);
        dialog->reject();
    });
    run();
}

bool TScreenshotTour::Save(QWidget* widget, const QString& name)
{
    const QString path = QDir(dir_).filePath(name);
    if (!widget->grab().save(path)) {
        Fail(QStringLiteral("cannot write ") + path);
        return false;
    }
    std::printf("%s\n", path.toLocal8Bit().constData());
    std::fflush(stdout);
    return true;
}

void TScreenshotTour::Fail(const QString& why)
{
    if (failed_) return;
    failed_ = true;
    std::fprintf(stderr, "rivanta: screenshots: %s\n", why.toLocal8Bit().constData());
    QCoreApplication::exit(1);
}

}  // namespace rv
