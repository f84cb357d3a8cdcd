// The prompting interface of the windows: message boxes, the sensor choice dialogs, the save dialog and the
// display of an exception that escaped a handler. The GUI shows real dialogs, the tests answer from a
// script, the headless runner answers from its command line.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace rv {

struct SSensorChoice;  // window/MeterImages.h

// Which of the two sensor choice dialogs is shown (they differ in the caption of their group box).
enum TSensorDialog {
    sdTest,    // "Выбор датчика для проверки", before a verification
    sdChange,  // "Выбор датчика для изменеия", before a KFS change
};

// The group box caption of a sensor dialog, exactly as the dialog shows it.
inline const char* SensorDialogCaption(TSensorDialog dialog)
{
    return dialog == sdTest ? "Выбор датчика для проверки" : "Выбор датчика для изменеия";
}

// The save dialog of a window.
struct SSaveDialog {
    std::string Title;       // "Сохранение отчета"
    std::string Filter;      // "Текстовый файл|*.TXT": description, bar, pattern
    std::string DefaultExt;  // "TXT": added by the dialog to a name typed without an extension
    std::string FileName;    // the name the dialog suggests; empty for none
};

// The answer of a Yes/No/Cancel box.
enum TAnswer { anYes, anNo, anCancel };

// Every call is modal: it returns when the technician has answered. Called on the loop thread only.
class IPrompter {
public:
    virtual ~IPrompter() = default;

    // An OK message box.
    virtual void Message(const std::string& text, const std::string& caption) = 0;
    // A Yes/No message box; true for Yes.
    virtual bool Question(const std::string& text, const std::string& caption) = 0;
    // A Yes/No/Cancel message box.
    virtual TAnswer QuestionCancel(const std::string& text, const std::string& caption) = 0;
    // Shows the sensor dialog filled with exactly these choices (an earlier fill is gone), the first one
    // checked. Returns the Position of the choice checked when the dialog was closed, or nothing when no
    // choice was offered.
    virtual std::optional<int> ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices) = 0;
    // The save dialog; the chosen path, or nothing when the technician cancelled.
    virtual std::optional<std::string> SaveFileName(const SSaveDialog& dialog) = 0;
    // The standard display of an exception that escaped a handler; the program goes on afterwards.
    virtual void ShowException(const std::exception& error) = 0;
};

}  // namespace rv
