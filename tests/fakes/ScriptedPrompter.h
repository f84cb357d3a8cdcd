// A prompter for window tests: records every box and dialog it is shown and answers from a script.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/window/IPrompter.h"
#include "app/window/MeterImages.h"

namespace rv::test {

class ScriptedPrompter : public IPrompter {
public:
    struct Shown {
        std::string kind;  // "message", "question", "question3", "choose", "save", "exception"
        std::string text;
        std::string caption;
    };

    void Message(const std::string& text, const std::string& caption) override
    {
        shown.push_back({"message", text, caption});
    }
    bool Question(const std::string& text, const std::string& caption) override
    {
        shown.push_back({"question", text, caption});
        bool answer = defaultAnswer;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        if (onQuestion) onQuestion(answer);
        return answer;
    }
    TAnswer QuestionCancel(const std::string& text, const std::string& caption) override
    {
        shown.push_back({"question3", text, caption});
        if (answers3.empty()) return defaultAnswer3;
        const TAnswer answer = answers3.front();
        answers3.pop_front();
        return answer;
    }
    std::optional<int> ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& offered) override
    {
        shown.push_back({"choose", {}, SensorDialogCaption(dialog)});
        choices = offered;
        ++dialogs;
        if (offered.empty()) return std::nullopt;
        return sensor.value_or(offered.front().Position);
    }
    std::optional<std::string> SaveFileName(const SSaveDialog& dialog) override
    {
        shown.push_back({"save", dialog.Title + "|" + dialog.Filter + "|" + dialog.DefaultExt, dialog.FileName});
        return savePath;
    }
    void ShowException(const std::exception& error) override { shown.push_back({"exception", error.what(), {}}); }

    // Everything shown of one kind, in order.
    std::vector<Shown> Of(const std::string& kind) const
    {
        std::vector<Shown> out;
        for (const Shown& s : shown)
            if (s.kind == kind) out.push_back(s);
        return out;
    }
    int Count(const std::string& kind) const { return static_cast<int>(Of(kind).size()); }

    // The script.
    std::deque<bool> answers;  // Yes/No answers in order; defaultAnswer once they are used up
    bool defaultAnswer = false;
    std::deque<TAnswer> answers3;  // Yes/No/Cancel answers in order; defaultAnswer3 once they are used up
    TAnswer defaultAnswer3 = anNo;
    std::optional<int> sensor;  // the position to choose; the first offered when unset
    std::optional<std::string> savePath;
    std::function<void(bool answer)> onQuestion;

    // What happened.
    std::vector<Shown> shown;
    std::vector<SSensorChoice> choices;  // the choices of the last sensor dialog
    int dialogs = 0;
};

}  // namespace rv::test
