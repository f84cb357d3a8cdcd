// The GUI program's options.
#include "app/gui/GuiOptions.h"

namespace rv {

const char kGuiUsage[] =
    "Использование: rivanta [параметры]\n"
    "  --port ИМЯ           выбрать порт (COM1, ttyUSB0, /dev/ttyS0 ...)\n"
    "  --simulate           встроенный имитатор прибора на псевдотерминале, его порт выбран\n"
    "  --meter ИМЯ|ФАЙЛ     имитатор с прибором из описания JSON (включает --simulate): файл или имя\n"
    "                       прибора (default, three-path, deviation ...) из папки rivanta/meters\n"
    "                       в ~/.local/share, /usr/local/share или /usr/share\n"
    "  --bench-simulate N   стенд из N имитаторов разных приборов (1..64) в строках страницы \"Стенд\"\n"
    "  --screenshots КАТАЛОГ  соединиться с имитатором, сохранить снимки окон в каталог и выйти\n"
    "  --help               эта справка\n"
    "  --version            версия программы\n";

std::string HelpOrVersionAnswer(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") return kGuiUsage;
        if (a == "--version") return "rivanta " RIVANTA_VERSION "\n";
    }
    return {};
}

std::string ParseGuiOptions(const std::vector<std::string>& args, SGuiOptions& options)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&](std::string& to) -> bool {
            if (i + 1 >= args.size() || args[i + 1].empty()) return false;
            to = args[++i];
            return true;
        };
        if (a == "--help" || a == "-h" || a == "--version") {
            // Answered before the application starts (HelpOrVersionAnswer).
        } else if (a == "--port") {
            if (!value(options.Port)) return "После --port нужно имя порта.";
        } else if (a == "--simulate") {
            options.Simulate = true;
        } else if (a == "--meter") {
            if (!value(options.MeterFile)) return "После --meter нужен файл описания прибора.";
            options.Simulate = true;
        } else if (a == "--bench-simulate") {
            std::string count;
            if (!value(count) || count.size() > 2 || count.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(count) < 1 || std::stoi(count) > 64)
                return "После --bench-simulate нужно число имитаторов от 1 до 64.";
            options.BenchSimulate = std::stoi(count);
        } else if (a == "--screenshots") {
            if (!value(options.ScreenshotDir)) return "После --screenshots нужен каталог.";
        } else {
            return "Неизвестный параметр " + a + ".";
        }
    }
    if (options.Simulate && !options.Port.empty()) return "--port и --simulate вместе не задаются.";
    if (!options.ScreenshotDir.empty() && !options.Simulate) return "--screenshots работает только с имитатором.";
    return {};
}

}  // namespace rv
