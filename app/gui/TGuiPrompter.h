// The prompting interface of the GUI: message boxes, the modal sensor dialogs, the save dialog and the display
// of an exception that escaped a handler.
#pragma once

#include "app/window/IPrompter.h"

#include <QPointer>
#include <QString>
#include <QWidget>

namespace rv {

class TFSelectSensor;

// The boxes open over the main window. Every call is modal and runs Qt's event loop until it is answered, so
// the loop's timers and hand-overs go on meanwhile.
class TGuiPrompter : public IPrompter {
public:
    TGuiPrompter();
    ~TGuiPrompter() override;

    // The window the boxes belong to and the two sensor dialogs; null until the windows exist.
    void SetWindows(QWidget* main, TFSelectSensor* test, TFSelectSensor* change);

    void Message(const std::string& text, const std::string& caption) override;
    bool Question(const std::string& text, const std::string& caption) override;
    TAnswer QuestionCancel(const std::string& text, const std::string& caption) override;
    // With no choice the dialog still opens (empty) and nothing is chosen.
    std::optional<int> ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices) override;
    std::optional<std::string> SaveFileName(const SSaveDialog& dialog) override;
    // An error box captioned with the program's name; the program goes on.
    void ShowException(const std::exception& error) override;

private:
    QPointer<QWidget> main_;
    QPointer<TFSelectSensor> test_;
    QPointer<TFSelectSensor> change_;
};

// "Текстовый файл|*.TXT" (description and patterns, pairs separated by bars, patterns by ';') in Qt's form:
// "Текстовый файл (*.TXT)", pairs separated by ";;".
QString QtFileFilter(const std::string& filter);

}  // namespace rv
