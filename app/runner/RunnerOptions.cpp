// The runner's command line on QCommandLineParser.
#include "app/runner/RunnerOptions.h"

#include "controls/NumberText.h"
#include "meter/FlashAddress.h"

#include <QCommandLineParser>
#include <QStringList>

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
    {"port", "ИМЯ", "последовательный порт (COM1, ttyUSB0, /dev/ttyS0, ...)"},
    {"simulate", "", "встроенный имитатор прибора на псевдотерминале"},
    {"meter", "ФАЙЛ", "описание прибора для имитатора: файл JSON или имя поставляемого прибора (three-path, ...)"},
    {"sensor", "N", "позиция датчика 0..5, как ее предлагает диалог; без него - первый предложенный"},
    {"reverse", "", "с потоком в обратном направлении"},
    {"extra-info", "", "вывод дополнительной информации"},
    {"report", "ФАЙЛ", "сохранить протокол в файл (кодировка 1251, строки CR LF)"},
    {"answer", "yes|no", "ответ на вопросы Да/Нет (по умолчанию no)"},
    {"trace", "", "обмен с прибором в поток ошибок"},
    {"kfs-write", "N=ЗНАЧЕНИЕ",
     "вместо поверки записать коэффициенты KFS датчика в позиции N и проверить записанное чтением: одно значение, "
     "или три для трехлучевого датчика диаметром 0,15 м и более; разделитель дробной части точка или запятая, "
     "значения разделяются ';' (или ',', если это однозначно)"},
};

const char kExitStatuses[] =
    "Код завершения: 0 - протокол полный (с --kfs-write: записано и проверено), 1 - поверка не завершена (не "
    "записано), 2 - неверные параметры, 3 - порт не открыт.\n";

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

// Parses into the fields both jobs share; the rest stays in the parser for the job's own options.
bool ParseCommon(QCommandLineParser& parser, const std::vector<std::string>& args, SRunnerOptions& options,
                 std::string& error)
{
    Define(parser);
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
        if (values.size() > 1) {
            error = "Параметр --" + std::string(o.Name) + " задан дважды.";
            return false;
        }
        if (values.front().isEmpty()) {
            error = "Параметр --" + std::string(o.Name) + " требует значения.";
            return false;
        }
    }
    options.Help = parser.isSet("help");
    options.Version = parser.isSet("version");
    if (options.Help || options.Version) return true;
    options.Port = S(parser.value("port"));
    options.Simulate = parser.isSet("simulate");
    options.MeterFile = S(parser.value("meter"));
    options.Trace = parser.isSet("trace");
    if (parser.isSet("answer")) {
        const std::string answer = S(parser.value("answer"));
        if (answer != "yes" && answer != "no") {
            error = "Ответ \"" + answer + "\" должен быть yes или no.";
            return false;
        }
        options.AnswerYes = answer == "yes";
    }
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

}  // namespace

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
    return true;
}

bool ParseKfsWriteOptions(const std::vector<std::string>& args, SKfsWriteOptions& options, std::string& error)
{
    options = SKfsWriteOptions{};
    QCommandLineParser parser;
    if (!ParseCommon(parser, args, options.Common, error)) return false;
    if (options.Common.Help || options.Common.Version) return true;
    for (const char* verifyOnly : {"sensor", "reverse", "extra-info", "report"}) {
        if (parser.isSet(verifyOnly)) {
            error = "Параметры --sensor, --reverse, --extra-info и --report относятся к поверке, не к --kfs-write.";
            return false;
        }
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
    return true;
}

std::string RunnerUsage()
{
    QCommandLineParser parser;
    Define(parser);
    QString text = parser.helpText();
    // The generated first line names the program as it was started; the help names it as it is installed.
    const qsizetype nl = text.indexOf('\n');
    text = "Использование: " + QString::fromUtf8(kProgram) + " (--port ИМЯ | --simulate [--meter ФАЙЛ]) [параметры]" +
           (nl < 0 ? QString() : text.mid(nl));
    return S(text) + "\n" + kExitStatuses;
}

std::string RunnerVersion()
{
    return std::string(kProgram) + " " + RIVANTA_VERSION;
}

}  // namespace rv
