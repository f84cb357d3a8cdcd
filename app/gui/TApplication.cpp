// The GUI's application object, its translation and its number locale.
#include "app/gui/TApplication.h"

#include "core/Locale.h"

#include <QLocale>
#include <QMessageBox>

#include <stdexcept>

namespace rv {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

TApplication::~TApplication() = default;

void TApplication::ShowCurrentException()
{
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            if (display_)
                display_(e);
            else
                QMessageBox::critical(activeWindow(), QStringLiteral("Rivanta"), QString::fromUtf8(e.what()));
        } catch (...) {
            const std::runtime_error wrapped("");
            if (display_)
                display_(wrapped);
            else
                QMessageBox::critical(activeWindow(), QStringLiteral("Rivanta"), QString());
        }
    } catch (...) {
        // The display failed in turn; nothing is left to tell the technician with.
    }
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
    }
    return false;
}

void UseSystemDecimalSeparator()
{
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point[0].unicode() < 0x80) SetDecimalSeparator(static_cast<char>(point[0].unicode()));
}

}  // namespace rv
