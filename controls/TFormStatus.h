// Remembers between runs where the program's windows were and what was typed into some of their controls.
#pragma once

#include "controls/FormStateFile.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <string>

class QWidget;

namespace rv {

class TIniDocument;

// The control classes it knows, matched by exact class (a subclass is not its base here):
//   spin edit -> QSpinBox, numeric edit -> TEditDigital, combo box -> QComboBox, plain edit -> QLineEdit.
// A window's section is its object name; a control's key is its object name.
class TFormStatus : public QObject {
    Q_OBJECT
public:
    explicit TFormStatus(QObject* owner = nullptr, const SFormStatePlace& place = SFormStatePlace::Current());
    ~TFormStatus() override;

    // Writes the state of every covered window; throws EFileError when the file cannot be written (it is then
    // left as it was).
    void SaveSizePosition();
    // Reads the state back and applies it. A spin-edit value that is no integer is skipped; once everything
    // else is restored, EConversionError names the first such value.
    void SetSizePosition();

    // The windows covered, in the application's order. Unset, every top-level window of the application.
    void SetForms(const QList<QWidget*>& forms);
    const std::string& GetFileName() const { return fileName_; }

    void SetIndex_ComboBox(bool v);
    bool GetIndex_ComboBox() const { return Index_ComboBox; }

    bool SP_Left = false;
    bool SP_Top = false;
    bool SP_Width = false;
    bool SP_Height = false;
    bool Value_CSpinEdit = false;
    bool Text_EditDigital = false;
    bool Text_ComboBox = false;
    bool Text_Edit = false;

private:
    QList<QWidget*> Forms() const;
    void SaveForm(TIniDocument& ini, QWidget* form) const;
    void RestoreForm(const TIniDocument& ini, QWidget* form, std::string& firstBadValue) const;

    bool Index_ComboBox = false;
    std::string fileName_;
    QList<QPointer<QWidget>> forms_;
    bool formsSet_ = false;
};

}  // namespace rv
