// The runner's command line on QCommandLineParser.
#include "app/runner/RunnerOptions.h"

#include "app/kfs/KfsValue.h"
#include "controls/NumberText.h"
#include "meter/FlashAddress.h"

#include <QCommandLineParser>
#include <QStringList>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace rv {

namespace {

const char kProgram[] = "rivanta-verify";

struct SOptionText {
    const char* Name;
    const char* ValueName;  // empty for a flag
    const char* Help;
};

// Every option of the program, in the order the help lists them.
const SOptionText kOptions[] = {
    {"port", "ИМЯ",
     "последовательный порт (COM1, ttyUSB0, /dev/ttyS0, ...); несколько --port - стенд: приборы поверяются "
     "одновременно"},
    {"simulate", "",
     "встроенный имитатор прибора на псевдотерминале; --simulate N - стенд из N имитаторов (1..64) разных приборов "
     "и датчиков"},
    {"bench", "ФАЙЛ",
     "стенд из файла: строка на прибор \"ПОРТ [--sensor N] [--reverse] [--extra-info] [--answer yes|no]\", "
     "# - комментарий; чего строка не задает, берется из параметров"},
    {"meter", "ФАЙЛ", "описание прибора для имитатора: файл JSON или имя поставляемого прибора (three-path, ...)"},
    {"sensor", "N", "позиция датчика 0..5, как ее предлагает диалог; без него - первый предложенный"},
    {"reverse", "", "с потоком в обратном направлении"},
    {"extra-info", "", "вывод дополнительной информации"},
    {"report", "ФАЙЛ", "сохранить протокол в файл (кодировка 1251, строки CR LF)"},
    {"report-dir", "ПАПКА",
     "стенд: полный протокол каждого прибора - в свой файл ПАПКА/СЕРИЙНЫЙ_ДАТЧИК.TXT (кодировка 1251, строки CR "
     "LF); без него протоколы выводятся в конце один за другим"},
    {"answer", "yes|no", "ответ на вопросы Да/Нет (по умолчанию no)"},
    {"trace", "", "обмен с прибором в поток ошибок"},
    {"timeout", "СЕКУНДЫ",
     "не дольше стольких секунд на всю работу: затем остановить ее, как кнопкой \"Стоп\" (режим эмуляции "
     "выключается)"},
    {"journal", "ПУТЬ|URL",
     "журнал поверок: файл SQLite или postgresql://...; без него - журнал из настроек лаборатории, иначе "
     "$XDG_DATA_HOME/rivanta/journal.sqlite"},
    {"no-journal", "", "не записывать поверку в журнал"},
    {"technician", "ИМЯ", "поверитель, под чьим именем записывается поверка (без него - из настроек лаборатории)"},
    {"conditions", "T,H,P", "условия поверки: температура воздуха, °C; влажность, %; давление, кПа"},
    {"pdf", "ФАЙЛ", "сохранить протокол поверки для печати (PDF) с вердиктом и графиком погрешности"},
    {"kfs-write", "N=ЗНАЧЕНИЕ",
     "вместо поверки записать коэффициенты KFS датчика в позиции N и проверить записанное чтением: одно значение, "
     "или три для трехлучевого датчика диаметром 0,15 м и более; разделитель дробной части точка или запятая, "
     "значения разделяются ';' (или ',', если это однозначно); заданные здесь датчик и значения и есть подтверждение "
     "записи, --answer отвечает лишь на вопросы о необычном коэффициенте и о режиме коррекции"},
};

const char kExitStatuses[] =
    "Код завершения:\n"
    "  0  протокол полный (с --kfs-write: записано и проверено)\n"
    "  1  прибор отказал или проверка не пройдена (режим имитатора, режим коррекции, данные прибора, точки, "
    "сохранение протокола)\n"
    "  2  неверные параметры\n"
    "  3  порт не открыт\n"
    "  4  связь с прибором потеряна во время работы\n"
    "  5  остановлено техником или сигналом\n"
    "Стенд (несколько приборов): 0 - только если протоколы всех приборов полные, иначе код самого серьезного исхода "
    "в порядке 2, 3, 4, 1, 5; в конце - таблица итогов в стандартный вывод.\n";

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string S(const QString& s)
{
    return s.toStdString();
}

bool TakesValue(const std::string& name)
{
    for (const SOptionText& o : kOptions)
        if (name == o.Name) return *o.ValueName != '\0';
    return false;
}

bool Known(const std::string& name)
{
    if (name == "help" || name == "h" || name == "version") return true;
    for (const SOptionText& o : kOptions)
        if (name == o.Name) return true;
    return false;
}

void Define(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        "Поверка датчика расхода без окон: протокол выводится в стандартный вывод, ход поверки - в поток ошибок.");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(QCommandLineOption({"h", "help"}, "показать эту справку"));
    parser.addOption(QCommandLineOption("version", "показать версию программы"));
    for (const SOptionText& o : kOptions)
        parser.addOption(QCommandLineOption(o.Name, QString::fromUtf8(o.Help), QString::fromUtf8(o.ValueName)));
}

// The error of arguments the parser refused, in the technician's words.
std::string Refusal(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    for (const std::string& a : args) {
        if (a.rfind("-", 0) != 0) continue;
        const std::string bare = a.substr(a.rfind("--", 0) == 0 ? 2 : 1);
        const size_t eq = bare.find('=');
        const std::string name = bare.substr(0, eq);
        if (!Known(name)) return "Неизвестный параметр \"" + a + "\".";
        if (eq != std::string::npos && !TakesValue(name)) return "Параметр --" + name + " не принимает значения.";
    }
    if (!args.empty()) {
        const std::string& last = args.back();
        const std::string name = last.substr(last.rfind("--", 0) == 0 ? 2 : 1);
        if (last.rfind("-", 0) == 0 && TakesValue(name)) return "Параметр --" + name + " требует значения.";
    }
    return "Неверные параметры: " + S(parser.errorText());
}

std::vector<std::string> Split(const std::string& text, char sep)
{
    std::vector<std::string> out(1);
    for (char c : text) {
        if (c == sep)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

// The values of --kfs-write make one coefficient or three (the count the sensor takes is known only once the
// meter has been read), each one the meter can take: the first refusal otherwise.
bool CheckKfsValues(const std::string& text, std::string& error)
{
    std::string refusal;
    for (const int count : {1, 3}) {
        std::vector<std::string> values;
        std::string splitError;
        if (!SplitKfsValues(text, count, values, splitError)) continue;
        std::string first;
        for (const std::string& v : values) {
            const SKfsValue k = CheckKfsValue(v);
            if (k.Verdict == kvRefused) {
                first = k.Message;
                break;
            }
        }
        if (first.empty()) return true;
        if (refusal.empty()) refusal = first;
    }
    error = refusal.empty() ? "Параметр --kfs-write ждет одно или три значения KFS, а не \"" + text + "\"." : refusal;
    return false;
}

// Takes the count of "--simulate N" (or "--simulate=N") out of the arguments, which QCommandLineParser cannot give
// an optional value; false with a message when the count is no number of meters. The value of another option
// ("--port --simulate=4" names a port) and whatever follows "--" are left to the parser as they are.
bool TakeSimulateCount(const std::vector<std::string>& args, std::vector<std::string>& rest, int& count,
                       std::string& error)
{
    rest.clear();
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        const bool option = a.size() > 1 && a[0] == '-';
        const std::string name = option ? a.substr(a[1] == '-' ? 2 : 1) : std::string();
        if (option && name.find('=') == std::string::npos && TakesValue(name) && i + 1 < args.size()) {
            rest.push_back(a);
            rest.push_back(args[++i]);
            continue;
        }
        std::string value;
        if (a.rfind("--simulate=", 0) == 0) {
            value = a.substr(11);
        } else if (a == "--simulate" && i + 1 < args.size() && !args[i + 1].empty() &&
                   std::isdigit(static_cast<unsigned char>(args[i + 1][0]))) {
            value = args[++i];
        } else {
            rest.push_back(a);
            continue;
        }
        rest.push_back("--simulate");
        int64_t n = 0;
        if (!ParseInt64(value, n) || n < 1 || n > kMaxSimulated) {
            error = "Число имитаторов \"" + value + "\" должно быть целым от 1 до " + std::to_string(kMaxSimulated) +
                    ".";
            return false;
        }
        count = static_cast<int>(n);
    }
    return true;
}

// Parses into the fields both jobs share; the rest stays in the parser for the job's own options.
bool ParseCommon(QCommandLineParser& parser, const std::vector<std::string>& given, SRunnerOptions& options,
                 std::string& error)
{
    Define(parser);
    std::vector<std::string> args;
    if (!TakeSimulateCount(given, args, options.SimulateCount, error)) return false;
    QStringList list{QString::fromUtf8(kProgram)};
    for (const std::string& a : args) list << Q(a);
    if (!parser.parse(list)) {
        error = Refusal(parser, args);
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = "Неизвестный параметр \"" + S(parser.positionalArguments().front()) + "\".";
        return false;
    }
    for (const SOptionText& o : kOptions) {
        if (!*o.ValueName || !parser.isSet(o.Name)) continue;
        const QStringList values = parser.values(o.Name);
        // Several ports make a bench.
        if (values.size() > 1 && std::string(o.Name) != "port") {
            error = "Параметр --" + std::string(o.Name) + " задан дважды.";
            return false;
        }
        for (const QString& v : values)
            if (v.isEmpty()) {
                error = "Параметр --" + std::string(o.Name) + " требует значения.";
                return false;
            }
    }
    options.Help = parser.isSet("help");
    options.Version = parser.isSet("version");
    if (options.Help || options.Version) return true;
    for (const QString& port : parser.values("port")) options.Ports.push_back(S(port));
    if (!options.Ports.empty()) options.Port = options.Ports.front();
    options.Simulate = parser.isSet("simulate");
    options.MeterFile = S(parser.value("meter"));
    options.Trace = parser.isSet("trace");
    if (parser.isSet("timeout")) {
        const std::string value = S(parser.value("timeout"));
        int64_t seconds = 0;
        // A week at most: the loop's timers count milliseconds in 32 bits.
        if (!ParseInt64(value, seconds) || seconds < 1 || seconds > 7 * 24 * 3600) {
            error = "Время \"" + value + "\" должно быть целым числом секунд от 1 до 604800.";
            return false;
        }
        options.TimeoutSeconds = static_cast<int>(seconds);
    }
    if (parser.isSet("answer")) {
        const std::string answer = S(parser.value("answer"));
        if (answer != "yes" && answer != "no") {
            error = "Ответ \"" + answer + "\" должен быть yes или no.";
            return false;
        }
        options.AnswerYes = answer == "yes";
    }
    if (options.Simulate == (!options.Port.empty() || parser.isSet("bench"))) {
        error = "Укажите либо --port ИМЯ (или --bench ФАЙЛ), либо --simulate.";
        return false;
    }
    if (!options.MeterFile.empty() && !options.Simulate) {
        error = "Параметр --meter действует только вместе с --simulate.";
        return false;
    }
    return true;
}

}  // namespace

bool SplitKfsValues(const std::string& text, int count, std::vector<std::string>& values, std::string& error)
{
    values.clear();
    const std::string wanted = count == 1 ? "одно значение" : "три значения";
    if (text.find(';') != std::string::npos) {
        values = Split(text, ';');
    } else {
        const std::vector<std::string> parts = Split(text, ',');
        if (static_cast<int>(parts.size()) == count) {
            values = parts;
        } else if (static_cast<int>(parts.size()) == 2 * count) {
            // The comma is the decimal separator of every value.
            for (size_t i = 0; i < parts.size(); i += 2) values.push_back(parts[i] + "," + parts[i + 1]);
        }
    }
    if (static_cast<int>(values.size()) != count) {
        values.clear();
        error = "Для этого датчика нужно " + wanted + " KFS, а задано \"" + text + "\".";
        return false;
    }
    for (const std::string& v : values)
        if (v.empty()) {
            values.clear();
            error = "Пустое значение KFS в \"" + text + "\".";
            return false;
        }
    return true;
}

bool CheckReportFile(const std::string& path, std::string& error)
{
    if (path.empty()) {
        error = "Имя файла отчета не задано.";
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = "Отчет \"" + path + "\" - это папка, а не файл.";
            return false;
        }
        // The protocol replaces the file whole: a device or a pipe would be replaced by a plain file.
        if (!S_ISREG(st.st_mode)) {
            error = "Отчет \"" + path + "\" не является обычным файлом: протокол в него не сохранить.";
            return false;
        }
    }
    const size_t slash = path.rfind('/');
    if (slash + 1 == path.size()) {
        error = "В имени отчета \"" + path + "\" нет имени файла.";
        return false;
    }
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::stat(folder.c_str(), &st) != 0) {
        const int err = errno;
        error = err == ENOENT ? "Папка отчета \"" + folder + "\" не существует."
                              : "Папка отчета \"" + folder + "\" недоступна: " + std::strerror(err);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = "Путь отчета \"" + path + "\" проходит через \"" + folder + "\", а это не папка.";
        return false;
    }
    // The protocol is written beside the report and renamed over it: the folder itself must take a new file.
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        const int err = errno;
        error = "В папку отчета \"" + folder + "\" нельзя записать: " + std::strerror(err);
        return false;
    }
    return true;
}

bool WantsKfsWrite(const std::vector<std::string>& args)
{
    for (const std::string& a : args)
        if (a == "--kfs-write" || a.rfind("--kfs-write=", 0) == 0) return true;
    return false;
}

bool ParseVerifyOptions(const std::vector<std::string>& args, SVerifyOptions& options, std::string& error)
{
    options = SVerifyOptions{};
    QCommandLineParser parser;
    if (!ParseCommon(parser, args, options, error)) return false;
    if (options.Help || options.Version) return true;
    if (parser.isSet("kfs-write")) {
        error = "Параметр --kfs-write задает запись KFS, а не поверку.";
        return false;
    }
    if (parser.isSet("sensor")) {
        const std::string value = S(parser.value("sensor"));
        int64_t n = -1;
        if (!ParseInt64(value, n) || n < 0 || n >= flash::kSensorCount) {
            error = "Позиция датчика \"" + value + "\" должна быть числом от 0 до 5.";
            return false;
        }
        options.Sensor = static_cast<int>(n);
    }
    options.Reverse = parser.isSet("reverse");
    options.ExtraInfo = parser.isSet("extra-info");
    options.Report = S(parser.value("report"));
    if (parser.isSet("report") && !CheckReportFile(options.Report, error)) return false;
    options.Journal = S(parser.value("journal"));
    options.NoJournal = parser.isSet("no-journal");
    if (options.NoJournal && parser.isSet("journal")) {
        error = "Параметры --journal и --no-journal исключают друг друга.";
        return false;
    }
    options.Technician = S(parser.value("technician"));
    if (parser.isSet("conditions") && !ParseConditions(S(parser.value("conditions")), options, error)) return false;
    options.Pdf = S(parser.value("pdf"));
    if (parser.isSet("pdf") && !CheckReportFile(options.Pdf, error)) return false;
    options.Bench = S(parser.value("bench"));
    options.ReportDir = S(parser.value("report-dir"));
    if (!IsBench(options)) return true;
    if (options.Ports.size() > static_cast<size_t>(kMaxSimulated)) {
        error = "Стенд - не более " + std::to_string(kMaxSimulated) + " приборов.";
        return false;
    }
    if (!options.Report.empty() || !options.Pdf.empty()) {
        error = std::string("Параметр --") + (options.Report.empty() ? "pdf" : "report") +
                " сохраняет протокол одного прибора; протоколы стенда - в папку --report-dir ПАПКА и в журнал.";
        return false;
    }
    // A probe name stands for the files the meters' protocols will get: the folder must exist and take them.
    if (!options.ReportDir.empty() && !CheckReportFile(options.ReportDir + "/СЕРИЙНЫЙ_ДАТЧИК.TXT", error))
        return false;
    return true;
}

bool IsBench(const SVerifyOptions& options)
{
    return options.Ports.size() > 1 || !options.Bench.empty() || !options.ReportDir.empty() ||
           options.SimulateCount > 1;
}

bool ParseConditions(const std::string& text, SVerifyOptions& options, std::string& error)
{
    std::vector<std::string> parts;
    std::string splitError;
    if (!SplitKfsValues(text, 3, parts, splitError)) {
        // A field left empty ("20;;101,3") is a figure not measured.
        parts = Split(text, text.find(';') != std::string::npos ? ';' : ',');
    }
    if (parts.size() != 3) {
        error = "Условия \"" + text + "\" должны быть заданы как T,H,P: температура, влажность, давление.";
        return false;
    }
    std::optional<double>* fields[3] = {&options.AirTemperature, &options.Humidity, &options.Pressure};
    const char* names[3] = {"температура воздуха", "влажность", "давление"};
    // Plausible limits of a laboratory: what lies outside is a typing error.
    const double low[3] = {-40.0, 0.0, 50.0};
    const double high[3] = {60.0, 100.0, 120.0};
    for (size_t i = 0; i < 3; ++i) {
        if (parts[i].empty()) continue;
        std::string number = parts[i];
        for (char& c : number)
            if (c == ',') c = '.';
        long double v = 0.0L;
        if (!ParseExtended(number, '.', v) || !(v >= low[i] && v <= high[i])) {
            error = "Условия поверки: " + std::string(names[i]) + " \"" + parts[i] + "\" должна быть числом от " +
                    std::to_string(static_cast<int>(low[i])) + " до " + std::to_string(static_cast<int>(high[i])) +
                    ".";
            return false;
        }
        *fields[i] = static_cast<double>(v);
    }
    return true;
}

bool WantsPdf(const std::vector<std::string>& args)
{
    for (const std::string& a : args)
        if (a == "--pdf" || a.rfind("--pdf=", 0) == 0) return true;
    return false;
}

bool ParseKfsWriteOptions(const std::vector<std::string>& args, SKfsWriteOptions& options, std::string& error)
{
    options = SKfsWriteOptions{};
    QCommandLineParser parser;
    if (!ParseCommon(parser, args, options.Common, error)) return false;
    if (options.Common.Help || options.Common.Version) return true;
    for (const char* verifyOnly : {"sensor", "reverse", "extra-info", "report", "journal", "no-journal", "technician",
                                   "conditions", "pdf", "bench", "report-dir"}) {
        if (parser.isSet(verifyOnly)) {
            error = "Параметр --" + std::string(verifyOnly) + " относится к поверке, не к --kfs-write.";
            return false;
        }
    }
    if (options.Common.Ports.size() > 1 || options.Common.SimulateCount > 1) {
        error = "Запись KFS - для одного прибора: задайте один --port или --simulate без числа.";
        return false;
    }
    const std::string target = S(parser.value("kfs-write"));
    const size_t eq = target.find('=');
    if (eq != 1 || target[0] < '0' || target[0] - '0' >= flash::kSensorCount || eq + 1 >= target.size()) {
        error = "Параметр --kfs-write ждет N=ЗНАЧЕНИЕ[,ЗНАЧЕНИЕ,ЗНАЧЕНИЕ] с позицией датчика N от 0 до 5, а не \"" +
                target + "\".";
        return false;
    }
    options.Position = target[0] - '0';
    options.Values = target.substr(eq + 1);
    return CheckKfsValues(options.Values, error);
}

std::string RunnerUsage()
{
    QCommandLineParser parser;
    Define(parser);
    QString text = parser.helpText();
    // The generated first line names the program as it was started; the help names it as it is installed.
    const qsizetype nl = text.indexOf('\n');
    text = "Использование: " + QString::fromUtf8(kProgram) +
           " (--port ИМЯ [--port ИМЯ ...] | --bench ФАЙЛ | --simulate [N] [--meter ФАЙЛ]) [параметры]" +
           (nl < 0 ? QString() : text.mid(nl));
    return S(text) + "\n" + kExitStatuses;
}

std::string RunnerVersion()
{
    return std::string(kProgram) + " " + RIVANTA_VERSION;
}

}  // namespace rv
