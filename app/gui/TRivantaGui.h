// The GUI program's start-up: the loop on Qt's event loop, the main window's device link and controller, the
// four windows in their order, and the simulated meter when one is asked for.
#pragma once

#include "app/gui/GuiOptions.h"
#include "app/gui/TGuiPrompter.h"
#include "controls/FormStateFile.h"

#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QWidget;

namespace rv {

class QtLoop;
class TBench;
class TBenchPage;
class TFMain;
class TFMainController;
class TFSelectSensor;
class TFSelectSensorTest;
class TGuiJournal;
class TForm1Controller;
class TKfsPage;
class TKfsPageController;
class TNewDevCom;
namespace sim {
class PtyMeterServer;
}

class TRivantaGui {
public:
    // Needs the application object on this thread. Throws std::runtime_error (or the meter file's error) when
    // the simulated meter cannot be started.
    explicit TRivantaGui(const SGuiOptions& options, const SFormStatePlace& place = SFormStatePlace::Current());
    // Closes the port before the simulated meter goes.
    ~TRivantaGui();
    TRivantaGui(const TRivantaGui&) = delete;
    TRivantaGui& operator=(const TRivantaGui&) = delete;

    // Shows the main window (which restores the form state), then preselects the port of the options.
    void Show();

    TFMain& FMain() { return *fmain_; }
    TFSelectSensorTest& FSelectSensorTest() { return *selectTest_; }
    QWidget& Form1() { return *form1_; }
    // The KFS window's controller, its own link, and the KFS page of the main window with its controller.
    TForm1Controller& Form1Controller() { return *form1Controller_; }
    TNewDevCom& Form1Link() { return *form1Link_; }
    TKfsPageController& KfsPageController() { return *kfsPageController_; }
    TKfsPage& KfsPage() { return *kfsPage_; }
    // Form1's own port box: it follows the KFS page's, so the form state keeps the page's port in Form1's section.
    QComboBox& Form1PortBox() { return *form1PortBox_; }
    TFSelectSensor& FSelectSensor() { return *select_; }
    TFMainController& Controller() { return *controller_; }
    TGuiPrompter& Prompter() { return prompter_; }
    // The journal of the runs, the run panel, the Журнал page and the laboratory's settings.
    TGuiJournal& Journal() { return *journal_; }
    TNewDevCom& NewDevCom1() { return *link_; }
    // Null without --simulate.
    sim::PtyMeterServer* Simulator() { return simulator_.get(); }
    // The "Стенд" page and its bench; the simulated meters of --bench-simulate in its rows.
    TBenchPage& BenchPage() { return *benchPage_; }
    TBench& Bench() { return *bench_; }
    const std::vector<std::unique_ptr<sim::PtyMeterServer>>& BenchSimulators() const { return benchSimulators_; }

private:
    void AddBenchPage(const std::vector<std::string>& ports);

    SGuiOptions options_;
    std::unique_ptr<QtLoop> loop_;
    std::unique_ptr<sim::PtyMeterServer> simulator_;
    std::unique_ptr<TNewDevCom> link_;
    TGuiPrompter prompter_;
    std::unique_ptr<TFMainController> controller_;
    std::unique_ptr<TFMain> fmain_;
    TFSelectSensorTest* selectTest_ = nullptr;  // owned by fmain_
    std::unique_ptr<QWidget> form1_;
    std::unique_ptr<TNewDevCom> form1Link_;
    std::unique_ptr<TForm1Controller> form1Controller_;
    std::unique_ptr<TKfsPageController> kfsPageController_;
    TKfsPage* kfsPage_ = nullptr;  // owned by fmain_
    QComboBox* form1PortBox_ = nullptr;  // owned by form1_
    TFSelectSensor* select_ = nullptr;  // owned by fmain_
    std::unique_ptr<TGuiJournal> journal_;
    std::vector<std::unique_ptr<sim::PtyMeterServer>> benchSimulators_;
    std::unique_ptr<TBench> bench_;
    TBenchPage* benchPage_ = nullptr;  // owned by fmain_
};

}  // namespace rv
