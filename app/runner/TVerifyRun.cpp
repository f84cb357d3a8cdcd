// The headless verification: options, the answers of the boxes and dialogs, and the course of the run.
#include "app/runner/TVerifyRun.h"

#include "app/verify/TFMainController.h"
#include "app/window/MeterImages.h"
#include "controls/NumberText.h"
#include "core/Loop.h"
#include "meter/FlashAddress.h"

namespace rv {

namespace {

bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& name, std::string& inlineValue,
               std::string& value, std::string& error)
{
    if (!inlineValue.empty()) {
        value = inlineValue;
        return true;
    }
    if (i + 1 >= args.size()) {
        error = "Параметр " + name + " требует значения.";
        return false;
    }
    value = args[++i];
    return true;
}

}  // namespace

std::string VerifyUsage()
{
    return "Использование: rivanta-verify (--port ИМЯ | --simulate [--meter ФАЙЛ]) [параметры]\n"
           "Поверка датчика расхода без окон: протокол выводится в стандартный вывод, ход поверки - в поток ошибок.\n"
           "  --port ИМЯ        последовательный порт (COM1, ttyUSB0, /dev/ttyS0, ...)\n"
           "  --simulate        встроенный имитатор прибора на псевдотерминале\n"
           "  --meter ФАЙЛ      описание прибора для имитатора (JSON)\n"
           "  --sensor N        позиция датчика 0..5, как ее предлагает диалог; без него - первый предложенный\n"
           "  --reverse         с потоком в обратном направлении\n"
           "  --extra-info      вывод дополнительной информации\n"
           "  --report ФАЙЛ     сохранить протокол в файл (кодировка 1251, строки CR LF)\n"
           "  --answer yes|no   ответ на вопросы Да/Нет (по умолчанию no)\n"
           "  --trace           обмен с прибором в поток ошибок\n"
           "  --kfs-write N=... вместо поверки записать коэффициенты KFS датчика (--kfs-write=0=1 --help)\n"
           "Код завершения: 0 - протокол полный, 1 - поверка не завершена, 2 - неверные параметры, 3 - порт не "
           "открыт.\n";
}

bool ParseVerifyOptions(const std::vector<std::string>& args, SVerifyOptions& options, std::string& error)
{
    options = SVerifyOptions{};
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string inlineValue;
        if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
            if (inlineValue.empty()) {
                error = "Параметр " + name + " требует значения.";
                return false;
            }
        }
        std::string value;
        if (name == "--help" || name == "-h") {
            options.Help = true;
        } else if (name == "--port") {
            if (!TakeValue(args, i, name, inlineValue, options.Port, error)) return false;
        } else if (name == "--simulate") {
            options.Simulate = true;
        } else if (name == "--meter") {
            if (!TakeValue(args, i, name, inlineValue, options.MeterFile, error)) return false;
        } else if (name == "--sensor") {
            if (!TakeValue(args, i, name, inlineValue, value, error)) return false;
            int64_t n = -1;
            if (!ParseInt64(value, n) || n < 0 || n >= flash::kSensorCount) {
                error = "Позиция датчика \"" + value + "\" должна быть числом от 0 до 5.";
                return false;
            }
            options.Sensor = static_cast<int>(n);
        } else if (name == "--reverse") {
            options.Reverse = true;
        } else if (name == "--extra-info") {
            options.ExtraInfo = true;
        } else if (name == "--report") {
            if (!TakeValue(args, i, name, inlineValue, options.Report, error)) return false;
        } else if (name == "--answer") {
            if (!TakeValue(args, i, name, inlineValue, value, error)) return false;
            if (value != "yes" && value != "no") {
                error = "Ответ \"" + value + "\" должен быть yes или no.";
                return false;
            }
            options.AnswerYes = value == "yes";
        } else if (name == "--trace") {
            options.Trace = true;
        } else {
            error = "Неизвестный параметр \"" + args[i] + "\".";
            return false;
        }
        if (!inlineValue.empty() && value.empty() && name != "--port" && name != "--meter" && name != "--report") {
            error = "Параметр " + name + " не принимает значения.";
            return false;
        }
    }
    if (options.Help) return true;
    if (options.Simulate == !options.Port.empty()) {
        error = "Укажите либо --port ИМЯ, либо --simulate.";
        return false;
    }
    if (!options.MeterFile.empty() && !options.Simulate) {
        error = "Параметр --meter действует только вместе с --simulate.";
        return false;
    }
    return true;
}

TVerifyRun::TVerifyRun(SVerifyOptions options, std::ostream& protocol, std::ostream& log)
    : THeadlessRun(log), options_(std::move(options)), protocol_(protocol)
{
}

TVerifyRun::~TVerifyRun()
{
    if (ctl_) ctl_->OnViewChanged = nullptr;
}

void TVerifyRun::Start(TFMainController& controller, Loop& loop, const std::string& portName)
{
    ctl_ = &controller;
    loop_ = &loop;
    ctl_->OnViewChanged = [this](TViewChange change) { ViewChanged(change); };
    ctl_->SetChBDopInfoChecked(options_.ExtraInfo);
    ctl_->SetCBPortNameText(portName);
    ctl_->SetSBOpenCloseDown(true);
    Log("Соединение с прибором через " + portName);
    ctl_->SBOpenCloseClick();
}

void TVerifyRun::ViewChanged(int change)
{
    if (finished_) return;
    const SMainView& view = ctl_->View();
    switch (change) {
        case vcMemoAdded:
            protocol_ << view.Memo1Lines.back() << '\n' << std::flush;
            break;
        case vcStatus:
            LogStatus(view.LStatusCaption);
            break;
        case vcStage:
            switch (ctl_->Stage()) {
                case msReady:
                    if (pressed_) break;
                    pressed_ = true;
                    // Pressed from the loop, not from inside the handler that enabled the button.
                    loop_->Post([this] {
                        if (finished_) return;
                        Log("Поверка" + std::string(options_.Reverse ? " с потоком в обратном направлении" : ""));
                        ctl_->SetChB_backChecked(options_.Reverse);
                        ctl_->Button1Click();
                    });
                    break;
                case msDone:
                    loop_->Post([this] { Done(); });
                    break;
                case msStopped:
                    Finish(view.SBOpenCloseDown ? veIncomplete : vePort, ctl_->StopReason());
                    break;
                case msClosing:
                    Finish(veIncomplete, ctl_->StopReason().empty() ? "Программа завершена." : ctl_->StopReason());
                    break;
                default:
                    break;
            }
            break;
        default:
            break;
    }
}

void TVerifyRun::Done()
{
    if (finished_) return;
    if (const int skipped = ctl_->SkippedPoints(); skipped > 0) {
        Finish(veIncomplete, "Протокол неполон: не проверено точек - " + std::to_string(skipped) + ".");
        return;
    }
    if (!options_.Report.empty()) {
        saving_ = true;
        ctl_->SpeedButton1Click();
        saving_ = false;
        if (saveFailed_) {
            Finish(veIncomplete, "Протокол не сохранен.");
            return;
        }
        Log("Протокол сохранен в файл " + options_.Report);
    }
    Finish(veComplete, "Поверка завершена.");
}

void TVerifyRun::Release()
{
    if (!ctl_->View().SBOpenCloseDown) return;
    ctl_->SetSBOpenCloseDown(false);
    ctl_->SBOpenCloseClick();
}

bool TVerifyRun::Question(const std::string& text, const std::string& caption)
{
    return Answer(text, caption, options_.AnswerYes);
}

std::optional<int> TVerifyRun::ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices)
{
    const std::string offered = LogChoices(dialog, choices);
    if (choices.empty()) {
        Finish(veIncomplete, "Прибор не предлагает ни одного датчика для поверки.");
        return std::nullopt;
    }
    if (!options_.Sensor) return choices.front().Position;
    for (const SSensorChoice& c : choices)
        if (c.Position == *options_.Sensor) return c.Position;
    Finish(veUsage, "Датчик в позиции " + std::to_string(*options_.Sensor) +
                        " не предлагается для поверки; предлагаются позиции " + offered + ".");
    return std::nullopt;
}

std::optional<std::string> TVerifyRun::SaveFileName(const SSaveDialog&)
{
    if (options_.Report.empty()) return std::nullopt;
    return options_.Report;
}

void TVerifyRun::ShowException(const std::exception& error)
{
    Log(std::string("Ошибка: ") + error.what());
    if (saving_) {
        saveFailed_ = true;
        return;
    }
    Finish(veIncomplete, error.what());
}

}  // namespace rv
