// The GUI's application object, its translation and its number locale.
#include "app/gui/TApplication.h"

#include "core/Locale.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

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

bool LoadRussianTranslation(QCoreApplication& app)
{
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void UseSystemDecimalSeparator()
{
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point[0].unicode() < 0x80) SetDecimalSeparator(static_cast<char>(point[0].unicode()));
}

}  // namespace rv
