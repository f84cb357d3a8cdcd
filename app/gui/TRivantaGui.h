// The GUI program's start-up: the loop on Qt's event loop, the main window's device link and controller, the
// four windows in their order, and the simulated meter when one is asked for.
#pragma once

#include "app/gui/GuiOptions.h"
#include "app/gui/TGuiPrompter.h"
#include "controls/FormStateFile.h"

#include <memory>

class QWidget;

namespace rv {

class QtLoop;
class TFMain;
class TFMainController;
class TFSelectSensor;
class TFSelectSensorTest;
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
    TFSelectSensor& FSelectSensor() { return *select_; }
    TFMainController& Controller() { return *controller_; }
    TGuiPrompter& Prompter() { return prompter_; }
    TNewDevCom& NewDevCom1() { return *link_; }
    // Null without --simulate.
    sim::PtyMeterServer* Simulator() { return simulator_.get(); }

private:
    SGuiOptions options_;
    std::unique_ptr<QtLoop> loop_;
    std::unique_ptr<sim::PtyMeterServer> simulator_;
    std::unique_ptr<TNewDevCom> link_;
    TGuiPrompter prompter_;
    std::unique_ptr<TFMainController> controller_;
    std::unique_ptr<TFMain> fmain_;
    TFSelectSensorTest* selectTest_ = nullptr;  // owned by fmain_
    std::unique_ptr<QWidget> form1_;
    TFSelectSensor* select_ = nullptr;  // owned by fmain_
};

}  // namespace rv
