// The conditions of a verification as the technician types them: air temperature, humidity, pressure and other
// remarks, each figure optional; used for the laboratory's defaults, the runs to come and a recorded run.
#pragma once

#include "journal/JournalTypes.h"

#include <QString>
#include <QWidget>

#include <string>

class QLineEdit;

namespace rv {

class TConditionsForm : public QWidget {
    Q_OBJECT
public:
    explicit TConditionsForm(QWidget* parent = nullptr);
    ~TConditionsForm() override;

    void SetConditions(const journal::SConditions& conditions);
    // The conditions typed; false, with a message naming the field, when a figure is no number or cannot be a
    // room's (an empty field leaves its figure unset).
    bool Read(journal::SConditions& conditions, std::string& error) const;

    QLineEdit* Temperature;
    QLineEdit* Humidity;
    QLineEdit* Pressure;
    QLineEdit* Other;
};

// "20 °C, 55 %, 101,3 кПа" (what is set of them), "не заданы" when nothing is.
QString ConditionsText(const journal::SConditions& conditions);

// The dialog "Условия поверки" over parent with the form filled from conditions; true, with conditions replaced,
// when the technician accepted valid figures.
bool EditConditions(QWidget* parent, journal::SConditions& conditions, const QString& note = {});

}  // namespace rv
