// The main window's "Просмотр KFS" page: the port box and connect button, the coefficient labels and fields of
// the chosen sensor and the write button. A thin view of TKfsPageController: every input goes to the
// controller, every change of its view state is painted back.
#pragma once

#include "app/kfs/TKfsPageController.h"

#include <QWidget>

#include <array>
#include <string>
#include <vector>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QToolButton;

namespace rv {

class IPrompter;
class TEditDigital;

class TKfsPage : public QWidget {
    Q_OBJECT
public:
    // The controller and the prompter outlive the page. ports: the serial ports present on this machine,
    // offered after COM1..COM4 as on the verification page.
    TKfsPage(TKfsPageController& controller, IPrompter& prompter, const std::vector<std::string>& ports,
             QWidget* parent = nullptr);
    ~TKfsPage() override;

    // Puts a port name into ComboBox1 as if typed.
    void SetPortName(const std::string& name);

    QFrame* Panel4;
    QComboBox* ComboBox1;
    QToolButton* SpeedButton2;
    QPushButton* Button2;
    QFrame* Panel5;
    std::array<QLabel*, TForm1Controller::kKfsFields> Label;              // Label1..Label3
    std::array<TEditDigital*, TForm1Controller::kKfsFields> EditDigital;  // EditDigital1..EditDigital3

signals:
    // Raised after the page has painted a change of the controller's view state (a TKfsPageChange).
    void ViewChanged(int change);

private:
    void BindInputs();
    void PaintControls();
    void PaintKfs();

    TKfsPageController& ctl_;
    IPrompter& prompter_;
};

}  // namespace rv
