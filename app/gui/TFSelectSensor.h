// The two sensor choice dialogs: a group box filled with one radio button per sensor offered, and an OK button.
#pragma once

#include "app/window/IPrompter.h"
#include "app/window/MeterImages.h"

#include <QDialog>

#include <optional>
#include <vector>

class QFrame;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace rv {

// Holds no logic of its own: the caller fills it, shows it modally and reads the checked choice. Closing it
// by its title bar (or Escape) counts as OK.
class TFSelectSensor : public QDialog {
    Q_OBJECT
public:
    explicit TFSelectSensor(QWidget* parent = nullptr, TSensorDialog kind = sdChange);
    ~TFSelectSensor() override;

    // Removes the buttons of an earlier fill, then places one radio button per choice in GroupBox1: left 5,
    // width 300, the first at top 20 and checked, each next one 5 pixels below the one before.
    void Fill(const std::vector<SSensorChoice>& choices);
    // The position of the checked button (the last checked one in fill order); nothing when none is.
    std::optional<int> Checked() const;
    const std::vector<QRadioButton*>& Buttons() const { return buttons_; }

    void reject() override;

    QGroupBox* GroupBox1;
    QFrame* Panel1;
    QPushButton* BitBtn1;

private:
    std::vector<QRadioButton*> buttons_;
    std::vector<int> positions_;
};

// The dialog shown before a verification.
class TFSelectSensorTest : public TFSelectSensor {
    Q_OBJECT
public:
    explicit TFSelectSensorTest(QWidget* parent = nullptr) : TFSelectSensor(parent, sdTest) {}
};

}  // namespace rv
