// The main window: the verification page with the connection panel, the protocol memo, the progress bar and
// the required flows, the KFS page, and the status strip. A thin view of TFMainController: every input goes to
// the controller, every change of its view state is painted back.
#pragma once

#include "app/verify/TFMainController.h"
#include "controls/FormStateFile.h"

#include <QWidget>

#include <array>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QToolButton;

namespace rv {

class IPrompter;
class TEditDigital;
class TFormStatus;

class TFMain : public QWidget {
    Q_OBJECT
public:
    // The controller and the prompter outlive the window. ports: the serial ports present on this machine,
    // offered after COM1..COM4. The form state goes to the file that place names.
    TFMain(TFMainController& controller, IPrompter& prompter, const std::vector<std::string>& ports,
           const SFormStatePlace& place = SFormStatePlace::Current(), QWidget* parent = nullptr);
    ~TFMain() override;

    // Puts the KFS page's widget into TabSheet2, filling it; the window owns it from then on.
    void SetKfsPage(QWidget* page);
    // Puts the run panel (the points and the verdict) under the memo, the two sharing the page's height.
    void SetRunPanel(QWidget* panel);
    // Puts a port name into CBPortName as if typed.
    void SetPortName(const std::string& name);

    // Restores the windows' places and the combo-box texts; run when the window is first shown.
    void FormShow();
    // Stores them; run when the window closes.
    void FormClose();
    // The about box.
    void SpeedButton3Click();

    QFrame* Panel3;
    QLabel* LStatus;
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QFrame* Panel1;
    QComboBox* CBPortName;
    QToolButton* SBOpenClose;
    QCheckBox* ChBDopInfo;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton1;
    QToolButton* SBSettings;  // the laboratory's settings
    QPlainTextEdit* Memo1;
    QProgressBar* ProgressBar3;
    QFrame* Panel2;
    QLabel* Label5;
    QPushButton* Button1;
    QPushButton* ButtonStop;
    // EditDigital8 … EditDigital12
    std::array<TEditDigital*, TFMainController::kRequiredFlowFields> EditDigital;
    QCheckBox* ChB_back;
    QWidget* TabSheet2;
    TFormStatus* FormStatus1;

signals:
    // Raised after the window has painted a change of the controller's view state (a TViewChange).
    void ViewChanged(int change);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildVerificationPage(const std::vector<std::string>& ports);
    void BindInputs();
    void Paint(TViewChange change);
    void PaintAll();
    void PaintControls();
    void PaintEdits();
    void PaintProgress();
    void PaintNewLines();

    TFMainController& ctl_;
    IPrompter& prompter_;
    bool shown_ = false;
    // Lines of the controller's protocol that the memo shows.
    size_t memoLines_ = 0;
};

}  // namespace rv
