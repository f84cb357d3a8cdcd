// rivanta: the verification program with its windows. Its own options are described by --help.
#include "app/gui/GuiOptions.h"
#include "app/gui/TApplication.h"
#include "core/qt/QtTranslation.h"
#include "app/gui/TRivantaGui.h"
#include "app/gui/TScreenshotTour.h"
#include "serial/XAsync.h"
#include "sim/MeterFiles.h"

#include <QMessageBox>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (const std::string answer = rv::HelpOrVersionAnswer(argc, argv); !answer.empty()) {
        std::fputs(answer.c_str(), stdout);
        return 0;
    }
    rv::TApplication app(argc, argv);
    // The desktop entry rivanta.desktop, for the window's icon and its place in the menu.
    QGuiApplication::setDesktopFileName(QStringLiteral("rivanta"));
    rv::LoadRussianTranslation(app);
    rv::UseSystemDecimalSeparator();
    // The serial driver's background transfers announce themselves in the application's title.
    rv::SetApplicationTitleHook(
        [](const std::string& title) { QGuiApplication::setApplicationDisplayName(QString::fromStdString(title)); });

    std::vector<std::string> args;
    const QStringList qtArgs = QCoreApplication::arguments();
    for (qsizetype i = 1; i < qtArgs.size(); ++i) args.push_back(qtArgs[i].toStdString());
    rv::SGuiOptions options;
    if (const std::string error = rv::ParseGuiOptions(args, options); !error.empty()) {
        std::fprintf(stderr, "rivanta: %s\n%s", error.c_str(), rv::kGuiUsage);
        return 2;
    }
    try {
        // A shipped meter by its name, or a description file.
        if (!options.MeterFile.empty()) options.MeterFile = rv::sim::FindMeterFile(options.MeterFile);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rivanta: %s\n", e.what());
        return 2;
    }

    std::unique_ptr<rv::TRivantaGui> gui;
    try {
        gui = std::make_unique<rv::TRivantaGui>(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rivanta: %s\n", e.what());
        QMessageBox::critical(nullptr, QStringLiteral("Rivanta"), QString::fromUtf8(e.what()));
        return 1;
    }
    app.SetExceptionDisplay([&gui](const std::exception& e) { gui->Prompter().ShowException(e); });
    gui->Show();

    std::unique_ptr<rv::TScreenshotTour> tour;
    if (!options.ScreenshotDir.empty()) {
        tour = std::make_unique<rv::TScreenshotTour>(*gui, QString::fromStdString(options.ScreenshotDir));
        tour->Start();
    }

    for (;;) {
        try {
            const int status = QApplication::exec();
            app.SetExceptionDisplay(nullptr);
            rv::SetApplicationTitleHook(nullptr);
            return status;
        } catch (...) {
            app.ShowCurrentException();
        }
    }
}
