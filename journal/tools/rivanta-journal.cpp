// rivanta-journal: the verification journal for scripts and a laboratory's own systems - list records, show
// one whole, export records as CSV, registry XML or the printable PDF protocol.
#include "journal/CsvExport.h"
#include "journal/DocumentText.h"
#include "journal/LaboratorySettings.h"
#include "journal/ProtocolPdf.h"
#include "journal/RegistryXml.h"
#include "journal/SampleProtocol.h"
#include "journal/TJournal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstring>
#include <iostream>
#include <memory>

using namespace rv::journal;

namespace {

enum EExit { exOk = 0, exUsage = 1, exJournal = 2, exNoRecord = 3, exDocument = 4 };

const char kHelp[] =
    "Использование: rivanta-journal [--journal ПУТЬ|URL] [--settings ФАЙЛ] КОМАНДА ...\n"
    "\n"
    "Журнал поверок: список записей, запись целиком, выгрузка документов.\n"
    "\n"
    "Команды:\n"
    "  list [ОТБОР] [--limit N] [--offset N]\n"
    "      записи, новые первыми, по строке на запись (поля через табуляцию): номер, дата, счётчик,\n"
    "      датчик, поверитель, результат\n"
    "  show НОМЕР\n"
    "      запись целиком: счётчик, датчик, условия, точки, заключение и текст протокола\n"
    "  export --csv|--xml|--pdf [НОМЕР ...] [ОТБОР] ФАЙЛ\n"
    "      выбранные записи (номера или отбор) в таблицу CSV, документ для реестра (XML)\n"
    "      или протокол поверки для печати (PDF)\n"
    "  sample --pdf ФАЙЛ\n"
    "      образец протокола с настройками лаборатории, чтобы проверить их до первой поверки\n"
    "\n"
    "Отбор:\n"
    "  --serial S         заводской номер счётчика\n"
    "  --since ДАТА       начатые в этот день и позже (ГГГГ-ММ-ДД, местное время)\n"
    "  --until ДАТА       начатые в этот день и раньше\n"
    "  --verdict V        годен | не годен | не завершена (или passed | failed | incomplete)\n"
    "  --technician T     поверитель\n"
    "\n"
    "Параметры:\n"
    "  --journal ПУТЬ|URL  файл журнала SQLite или postgresql://пользователь@сервер/база;\n"
    "                      по умолчанию из настроек лаборатории, иначе\n"
    "                      $XDG_DATA_HOME/rivanta/journal.sqlite\n"
    "  --settings ФАЙЛ     настройки лаборатории (по умолчанию $XDG_CONFIG_HOME/rivanta/laboratory.ini)\n"
    "  -h, --help          эта справка\n"
    "  -v, --version       версия программы\n"
    "\n"
    "Код завершения:\n"
    "  0  выполнено\n"
    "  1  неверные аргументы\n"
    "  2  журнал не открывается или не читается\n"
    "  3  нет записи с таким номером или ни одной подходящей записи\n"
    "  4  документ не составлен (не заданы поля для реестра) или файл не записан\n";

class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class ENoRecord : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EDocument : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

int64_t LocalMidnight(const QString& text, int addDays)
{
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (!date.isValid()) throw EUsage("дата «" + text.toStdString() + "» не в виде ГГГГ-ММ-ДД");
    return QDateTime(date.addDays(addDays), QTime(0, 0)).toMSecsSinceEpoch();
}

SJournalFilter FilterOf(const QCommandLineParser& p)
{
    SJournalFilter f;
    f.MeterSerial = p.value("serial").toStdString();
    f.Technician = p.value("technician").toStdString();
    if (p.isSet("since")) f.SinceUtcMs = LocalMidnight(p.value("since"), 0);
    if (p.isSet("until")) f.UntilUtcMs = LocalMidnight(p.value("until"), 1);
    if (p.isSet("verdict")) {
        const QString v = p.value("verdict").trimmed().toLower();
        if (v == "годен" || v == "passed") f.Verdict = EVerdictFilter::Passed;
        else if (v == "не годен" || v == "failed") f.Verdict = EVerdictFilter::Failed;
        else if (v == "не завершена" || v == "incomplete") f.Verdict = EVerdictFilter::NotCompleted;
        else throw EUsage("результат «" + v.toStdString() + "» не из: годен, не годен, не завершена");
    }
    return f;
}

bool HasFilter(const QCommandLineParser& p)
{
    for (const char* o : {"serial", "since", "until", "verdict", "technician"})
        if (p.isSet(o)) return true;
    return false;
}

int64_t Number(const QString& text, const char* what)
{
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok);
    if (!ok || n < 0) throw EUsage(std::string(what) + " «" + text.toStdString() + "» не является числом");
    return n;
}

// Every record the filter selects, newest first, from `offset` on, at most `limit` (0: all).
std::vector<SVerificationRecord> Select(const TJournal& j, const SJournalFilter& f, int64_t limit, int64_t offset)
{
    constexpr int kPage = 1000;
    std::vector<SVerificationRecord> out = j.List(f, static_cast<int>(limit > 0 && limit < kPage ? limit : kPage),
                                                  offset);
    bool more = out.size() == static_cast<size_t>(kPage);
    while (more && (limit == 0 || static_cast<int64_t>(out.size()) < limit)) {
        auto page = j.ListAfter(f, {out.back().Started.UtcMs, out.back().Id}, kPage);
        more = page.size() == static_cast<size_t>(kPage);
        for (auto& r : page) out.push_back(std::move(r));
    }
    if (limit > 0 && static_cast<int64_t>(out.size()) > limit) out.resize(static_cast<size_t>(limit));
    return out;
}

std::string Tabless(std::string s)
{
    for (char& c : s)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return s;
}

void List(const TJournal& j, const QCommandLineParser& p, const QStringList& args)
{
    if (args.size() != 1) throw EUsage("list не принимает позиционных аргументов");
    const int64_t limit = p.isSet("limit") ? Number(p.value("limit"), "--limit") : 0;
    const int64_t offset = p.isSet("offset") ? Number(p.value("offset"), "--offset") : 0;
    std::cout << "Номер\tДата\tСчётчик\tДатчик\tПоверитель\tРезультат\n";
    for (const SVerificationRecord& r : Select(j, FilterOf(p), limit, offset))
        std::cout << r.Id << '\t' << LocalDate(r.Started) << ' ' << LocalTime(r.Started) << '\t'
                  << Tabless(r.Meter.Serial) << '\t' << Tabless(r.Sensor.Designation + " №" + r.Sensor.Serial) << '\t'
                  << Tabless(r.Technician) << '\t' << StateText(r.State) << '\n';
}

SVerificationRecord Whole(const TJournal& j, int64_t id)
{
    auto r = j.Get(id);
    if (!r) throw ENoRecord("в журнале нет записи №" + std::to_string(id));
    return *r;
}

void Show(const TJournal& j, const QStringList& args)
{
    if (args.size() != 2) throw EUsage("show принимает один номер записи");
    const SVerificationRecord r = Whole(j, Number(args[1], "номер записи"));
    auto line = [](const char* caption, const std::string& value) {
        std::cout << caption << ": " << value << '\n';
    };
    line("Запись", "№" + std::to_string(r.Id) + " (" + r.RunId + ")");
    line("Начало", LocalDate(r.Started) + " " + LocalTime(r.Started) + " " + OffsetText(r.Started.OffsetMinutes));
    if (r.Ended) line("Окончание", LocalDate(*r.Ended) + " " + LocalTime(*r.Ended));
    line("Результат", StateText(r.State));
    if (!r.Outcome.empty()) line("Примечание", r.Outcome);
    line("Поверитель", r.Technician);
    line("Рабочее место", r.Workstation + ", порт " + r.Port + ", версия программы " + r.ProgramVersion);
    line("Счётчик", "№" + r.Meter.Serial + ", модуль №" + std::to_string(r.Meter.ModuleNumber) + ", исполнение " +
                        std::to_string(r.Meter.Execution) + ", ПО " + r.Meter.SoftwareVersion);
    line("Датчик", r.Sensor.Designation + " №" + r.Sensor.Serial + ", позиция " +
                       std::to_string(r.Sensor.Position + 1) + ", QVmax " + r.Sensor.QVmax + " м3/ч, KFS " +
                       r.Sensor.Kfs);
    line("Условия", "температура " + CommaNumber(r.Conditions.AirTemperature, 2) + " °C, влажность " +
                        CommaNumber(r.Conditions.Humidity, 2) + " %, давление " +
                        CommaNumber(r.Conditions.Pressure, 2) + " кПа" +
                        (r.Conditions.Other.empty() ? "" : ", " + r.Conditions.Other));
    line("Линия", "повторов " + std::to_string(r.Line.Repetitions) + ", тайм-аутов " +
                      std::to_string(r.Line.Timeouts) + ", ошибок контрольной суммы " +
                      std::to_string(r.Line.ChecksumFailures));
    std::cout << "\nНаправление\tНоминальный\tЗаданный\tИзмеренный\tПогрешность, %\tДопустимая, %\tВывод\n";
    for (const SVerificationPoint& pt : r.Points)
        std::cout << DirectionText(pt.Direction) << '\t' << pt.Nominal << '\t' << pt.Set << '\t' << pt.Measured
                  << '\t' << pt.RelativeError << '\t' << pt.AllowedError << '\t' << PointVerdictText(JudgePoint(pt))
                  << (pt.NotCheckedReason.empty() ? "" : ": " + pt.NotCheckedReason) << '\n';
    std::cout << "\n" << r.Protocol << (r.Protocol.empty() || r.Protocol.back() == '\n' ? "" : "\n");
}

void Export(const TJournal& j, const QCommandLineParser& p, const QStringList& args, const SLaboratorySettings& lab)
{
    const int kinds = p.isSet("csv") + p.isSet("xml") + p.isSet("pdf");
    if (kinds != 1) throw EUsage("export требует ровно один из --csv, --xml, --pdf");
    if (args.size() < 2) throw EUsage("export требует имя файла");
    const std::string file = args.back().toStdString();
    std::vector<SVerificationRecord> records;
    if (args.size() > 2) {
        if (HasFilter(p)) throw EUsage("export принимает либо номера записей, либо отбор");
        for (qsizetype i = 1; i + 1 < args.size(); ++i) records.push_back(Whole(j, Number(args[i], "номер записи")));
    } else {
        for (const SVerificationRecord& r : Select(j, FilterOf(p), 0, 0)) records.push_back(Whole(j, r.Id));
        if (records.empty()) throw ENoRecord("ни одна запись не подходит под отбор");
    }
    try {
        std::string bytes;
        if (p.isSet("csv")) bytes = RecordsCsv(records);
        else if (p.isSet("xml")) bytes = RegistryXml(records, lab);
        else bytes = ProtocolPdf(records, lab);
        SaveDocument(file, bytes);
    } catch (const EJournalError& e) {
        throw EDocument(e.what());
    }
    std::cerr << "Записано: " << file << " (записей: " << records.size() << ")\n";
}

void Sample(const QCommandLineParser& p, const QStringList& args, const SLaboratorySettings& lab)
{
    if (!p.isSet("pdf") || p.isSet("csv") || p.isSet("xml") || args.size() != 2)
        throw EUsage("sample требует --pdf и имя файла");
    try {
        SaveDocument(args[1].toStdString(), ProtocolPdf({SampleProtocolRecord()}, lab));
    } catch (const EJournalError& e) {
        throw EDocument(e.what());
    }
    std::cerr << "Записано: " << args[1].toStdString() << " (образец)\n";
}

bool Wants(int argc, char** argv, const char* option)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], option) == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    // Painting the PDF needs fonts, which need a GUI application; it never shows a window.
    std::unique_ptr<QCoreApplication> app;
    if (Wants(argc, argv, "--pdf")) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName("rivanta-journal");
    QCoreApplication::setApplicationVersion(RIVANTA_VERSION);
    QTranslator qt;
    if (qt.load(QLocale(QLocale::Russian), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qt);

    QCommandLineParser p;
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    p.addOptions({
        {{"h", "help"}, "справка"},
        {{"v", "version"}, "версия"},
        {"journal", "журнал", "ПУТЬ|URL"},
        {"settings", "настройки", "ФАЙЛ"},
        {"serial", "счётчик", "S"},
        {"since", "с даты", "ДАТА"},
        {"until", "по дату", "ДАТА"},
        {"verdict", "результат", "V"},
        {"technician", "поверитель", "T"},
        {"limit", "не больше", "N"},
        {"offset", "пропустить", "N"},
        {"csv", "CSV"},
        {"xml", "XML"},
        {"pdf", "PDF"},
    });
    if (!p.parse(QCoreApplication::arguments())) {
        std::cerr << "rivanta-journal: " << p.errorText().toStdString() << "\n" << kHelp;
        return exUsage;
    }
    if (p.isSet("help")) {
        std::cout << kHelp;
        return exOk;
    }
    if (p.isSet("version")) {
        std::cout << "rivanta-journal " << RIVANTA_VERSION << "\n";
        return exOk;
    }
    const QStringList args = p.positionalArguments();
    try {
        if (args.isEmpty()) throw EUsage("не указана команда (list, show, export, sample)");
        const QString command = args[0];
        if (command != "list" && command != "show" && command != "export" && command != "sample")
            throw EUsage("неизвестная команда «" + command.toStdString() + "»");
        const SLaboratorySettings lab = LoadLaboratorySettings(
            p.isSet("settings") ? p.value("settings").toStdString() : LaboratorySettingsPath());
        if (command == "sample") {
            Sample(p, args, lab);
            return exOk;
        }
        const TJournal j(p.isSet("journal") ? p.value("journal").toStdString() : lab.JournalLocation);
        if (command == "list") List(j, p, args);
        else if (command == "show") Show(j, args);
        else Export(j, p, args, lab);
        return exOk;
    } catch (const EUsage& e) {
        std::cerr << "rivanta-journal: " << e.what() << "\nСправка: rivanta-journal --help\n";
        return exUsage;
    } catch (const ENoRecord& e) {
        std::cerr << "rivanta-journal: " << e.what() << "\n";
        return exNoRecord;
    } catch (const EDocument& e) {
        std::cerr << "rivanta-journal: " << e.what() << "\n";
        return exDocument;
    } catch (const EJournalError& e) {
        std::cerr << "rivanta-journal: " << e.what() << "\n";
        return exJournal;
    }
}
