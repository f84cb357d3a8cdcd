// The numeric edit: a one-line edit whose typed characters pass the key filter of its number format.
#pragma once

#include "controls/DigitalKeyFilter.h"

#include <QLineEdit>

#include <functional>
#include <string>

class QKeyEvent;

namespace rv {

// Only typed characters are filtered; text pasted or set by the program is taken as it is.
class TEditDigital : public QLineEdit {
    Q_OBJECT
public:
    using TErrorDisplay = std::function<void(const std::string& message)>;

    explicit TEditDigital(QWidget* parent = nullptr);
    ~TEditDigital() override;

    void SetDigitalType(TDigitalType v) { settings_.DigitalType = v; }
    TDigitalType GetDigitalType() const { return settings_.DigitalType; }
    void SetControlOfRange(bool v) { settings_.ControlOfRange = v; }
    bool GetControlOfRange() const { return settings_.ControlOfRange; }
    void SetMaxValue(long double v) { settings_.MaxValue = v; }
    long double GetMaxValue() const { return settings_.MaxValue; }
    void SetMinValue(long double v) { settings_.MinValue = v; }
    long double GetMinValue() const { return settings_.MinValue; }

    // How a conversion error of the range test reaches the technician; unset, a critical message box shows it.
    void SetErrorDisplay(TErrorDisplay display) { errorDisplay_ = std::move(display); }

protected:
    // Filters a typed character: on return key holds the character to insert, or 0 when it is refused.
    // Throws EConversionError when the range test meets a text that is no number.
    virtual void KeyPress(char& key);
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowError(const std::string& message);

    SDigitalSettings settings_;
    TErrorDisplay errorDisplay_;
};

}  // namespace rv
