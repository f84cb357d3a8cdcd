// The numeric edit.
#include "TEditDigital.h"

#include "controls/Errors.h"
#include "core/Locale.h"

#include <QKeyEvent>
#include <QMessageBox>

namespace rv {

TEditDigital::TEditDigital(QWidget* parent) : QLineEdit(parent)
{
    // Composed input would reach the text without passing the filter.
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

TEditDigital::~TEditDigital() = default;

void TEditDigital::KeyPress(char& key)
{
    const std::string current = text().toStdString();
    const size_t selected = static_cast<size_t>(selectedText().toUtf8().size());
    key = FilterDigitalKey(current, selected, key, settings_, DecimalSeparator());
}

void TEditDigital::keyPressEvent(QKeyEvent* event)
{
    const QString typed = event->text();
    // Shortcuts, editing and navigation keys are not typed characters; backspace is always let through.
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (shortcut || typed.isEmpty() || isReadOnly() || event->key() == Qt::Key_Backspace ||
        (typed.size() == 1 && (typed[0].unicode() < 0x20 || typed[0].unicode() == 0x7F))) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    if (typed.size() != 1 || typed[0].unicode() > 0x7F) return;  // no such character is in any format

    char key = static_cast<char>(typed[0].unicode());
    try {
        KeyPress(key);
    } catch (const EConversionError& e) {
        ShowError(e.what());
        return;
    }
    if (key == 0) return;
    QKeyEvent filtered(event->type(), event->key(), event->modifiers(), QString(QChar::fromLatin1(key)),
                       event->isAutoRepeat(), static_cast<quint16>(event->count()));
    QLineEdit::keyPressEvent(&filtered);
}

void TEditDigital::ShowError(const std::string& message)
{
    if (errorDisplay_) {
        errorDisplay_(message);
        return;
    }
    QMessageBox::critical(this, QStringLiteral("Ошибка"), QString::fromStdString(message));
}

}  // namespace rv
