// The laboratory's settings, entered once: the organisation, the technician, where the journal is kept, what the
// registry needs (type registration numbers per meter model, the mark's cipher, the owner, the method, the
// interval, the marks, the kind of verification), the means of verification and the default conditions.
#pragma once

#include "journal/LaboratorySettings.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;
class QTableWidget;
class QTabWidget;

namespace rv {

class TConditionsForm;

class TLaboratoryDialog : public QDialog {
    Q_OBJECT
public:
    // The fields show settings; an accepted dialog has saved what they hold to path.
    TLaboratoryDialog(const journal::SLaboratorySettings& settings, const std::string& path, QWidget* parent = nullptr);
    ~TLaboratoryDialog() override;

    // What was saved, once accepted.
    const journal::SLaboratorySettings& Settings() const { return settings_; }
    // The settings the fields hold; false with the message naming the field that cannot be taken.
    bool Read(journal::SLaboratorySettings& settings, std::string& error) const;

    // Saves, or tells why not and stays open.
    void accept() override;

    QTabWidget* Pages;
    QLineEdit* Organisation;
    QLineEdit* Technician;
    QLineEdit* JournalLocation;
    QTableWidget* TypeNumbers;  // model, number
    QLineEdit* SignCipher;
    QLineEdit* Owner;
    QLineEdit* MethodTitle;
    QSpinBox* IntervalMonths;
    QComboBox* VerificationType;  // not set, first, periodic
    QCheckBox* SignPass;
    QCheckBox* SignMi;
    QPlainTextEdit* MeansDescription;
    QPlainTextEdit* Standards;  // one registration number a line
    QTableWidget* Instruments;  // type number, serial
    TConditionsForm* Conditions;

private:
    void Fill(const journal::SLaboratorySettings& settings);

    std::string path_;
    journal::SLaboratorySettings settings_;
};

}  // namespace rv
