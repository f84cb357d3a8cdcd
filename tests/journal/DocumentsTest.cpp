// The documents of records: CSV for spreadsheets, the registry XML parsed back element by element, the PDF
// protocol's text as pdftotext extracts it, and the laboratory settings they draw on.
#include "JournalTestSupport.h"

#include "journal/CsvExport.h"
#include "journal/DocumentText.h"
#include "journal/LaboratorySettings.h"
#include "journal/ProtocolPdf.h"
#include "journal/RegistryXml.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include <map>

namespace rv::journal::test {
namespace {

SLaboratorySettings Lab()
{
    SLaboratorySettings lab;
    lab.Organisation = "ООО «Метрологический центр»";
    lab.Technician = "Петрова А. С.";
    lab.TypeNumbers = {{"Ривант-М", "12345-06"}, {"", "99999-99"}};
    lab.SignCipher = "ГЦИ";
    lab.OwnerDefault = "МУП «Водоканал»";
    lab.MethodTitle = "МП 123-2019 Счётчики. Методика поверки";
    lab.IntervalMonths = 48;
    lab.SignPass = true;
    lab.SignMi = false;
    lab.VerificationType = EVerificationType::First;
    lab.MeansDescription = "Установка поверочная имитационная, рег. № 3.1.ZZZ.0001.2020";
    lab.Standards = {"3.1.ZZZ.0001.2020"};
    lab.Instruments = {{"71234-18", "0457"}};
    lab.DefaultConditions = {20.0, 50.0, 101.3, ""};
    return lab;
}

SVerificationRecord Passed(int64_t id)
{
    SVerificationRecord r = SampleRecord();
    r.Id = id;
    r.RunId = "run-" + std::to_string(id);
    r.State = ERunState::Passed;
    r.Points = SamplePoints();
    r.Ended = STimestamp{r.Started.UtcMs + 600000, 180};
    r.Protocol = ReferenceProtocol("one-path-forward.txt");
    return r;
}

SVerificationRecord Failed(int64_t id)
{
    SVerificationRecord r = Passed(id);
    r.State = ERunState::Failed;
    r.Reverse = true;
    r.Points.push_back(Point(EDirection::Reverse, "0,1200", "0,1144", "0,1203", "-5,157", "5,0"));
    r.Outcome = "не прошли поверку: обратное направление, 0,1200 м3/ч: погрешность -5,157% при допустимой 5,0%";
    return r;
}

TEST(Csv, FieldsEscapedForSpreadsheets)
{
    EXPECT_EQ(CsvField("FS/A FS-25S"), "FS/A FS-25S");
    EXPECT_EQ(CsvField("12,1436"), "12,1436");
    EXPECT_EQ(CsvField("-0,002"), "-0,002");
    EXPECT_EQ(CsvField("a;b"), "\"a;b\"");
    EXPECT_EQ(CsvField("ООО \"Теплосеть\""), "\"ООО \"\"Теплосеть\"\"\"");
    EXPECT_EQ(CsvField("две\nстроки"), "\"две\nстроки\"");
    EXPECT_EQ(CsvField(" поле "), "\" поле \"");
    EXPECT_EQ(CsvField("=HYPERLINK(\"x\")"), "\"'=HYPERLINK(\"\"x\"\")\"");
    EXPECT_EQ(CsvField("+7 900"), "'+7 900");
    EXPECT_EQ(CsvField("-abc"), "'-abc");
    EXPECT_EQ(CsvField("@SUM(A1)"), "'@SUM(A1)");
    EXPECT_EQ(CsvField(""), "");
}

TEST(Csv, OneLinePerRecordWithItsPointsAsColumns)
{
    SVerificationRecord shortOne = Passed(7);
    shortOne.Points.resize(2);
    shortOne.Owner = "ООО \"Тепло; Сеть\"";
    const std::string csv = RecordsCsv({Failed(8), shortOne});
    ASSERT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
    std::vector<std::string> lines;
    for (size_t at = 3; at < csv.size();) {
        const size_t end = csv.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(csv.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_EQ(lines.size(), 3u);
    auto fields = [](const std::string& line) {
        std::vector<std::string> out(1);
        bool quoted = false;
        for (size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') out.back() += line[++i];
            else if (c == '"') quoted = !quoted;
            else if (c == ';' && !quoted) out.emplace_back();
            else out.back() += c;
        }
        return out;
    };
    const auto head = fields(lines[0]);
    const auto failed = fields(lines[1]);
    const auto shortRow = fields(lines[2]);
    ASSERT_EQ(head.size(), 37u + 5 * 7);
    EXPECT_EQ(failed.size(), head.size());
    EXPECT_EQ(shortRow.size(), head.size());
    std::map<std::string, size_t> column;
    for (size_t i = 0; i < head.size(); ++i) column[head[i]] = i;
    EXPECT_EQ(failed[column.at("№ протокола")], "8");
    EXPECT_EQ(failed[column.at("Дата")], "01.05.2024");
    EXPECT_EQ(failed[column.at("Начало")], "10:15");
    EXPECT_EQ(failed[column.at("Часовой пояс")], "UTC+03:00");
    EXPECT_EQ(failed[column.at("Заводской № счётчика")], "21345");
    EXPECT_EQ(failed[column.at("Температура воздуха, °C")], "21,5");
    EXPECT_EQ(failed[column.at("Результат")], "не годен");
    EXPECT_EQ(failed[column.at("Точка 5: направление")], "обратное");
    EXPECT_EQ(failed[column.at("Точка 5: относительная погрешность, %")], "-5,157");
    EXPECT_EQ(failed[column.at("Точка 5: вывод")], "не годен");
    EXPECT_EQ(failed[column.at("Точка 1: заданный расход, м3/ч")], "12,1436");
    EXPECT_EQ(shortRow[column.at("Владелец")], "ООО \"Тепло; Сеть\"");
    EXPECT_EQ(shortRow[column.at("Точка 2: вывод")], "годен");
    EXPECT_EQ(shortRow[column.at("Точка 3: направление")], "");
}

// The registry document read back: for each result, its elements by path ("miInfo/singleMI/mitypeNumber").
std::vector<std::map<std::string, std::string>> ReadRegistry(const std::string& xml)
{
    std::vector<std::map<std::string, std::string>> results;
    QXmlStreamReader x(QByteArray::fromStdString(xml));
    std::vector<std::string> path;
    while (!x.atEnd()) {
        x.readNext();
        if (x.isStartElement()) {
            EXPECT_EQ(x.namespaceUri().toString().toStdString(), kRegistryNamespace);
            path.push_back(x.name().toString().toStdString());
            if (path.size() == 1) {
                EXPECT_EQ(path[0], "application");
            }
            if (path.size() == 2 && path[1] == "result") results.emplace_back();
        } else if (x.isEndElement()) {
            path.pop_back();
        } else if (x.isCharacters() && !x.isWhitespace() && path.size() > 2) {
            std::string key;
            for (size_t i = 2; i < path.size(); ++i) key += (i > 2 ? "/" : "") + path[i];
            results.back()[key] += x.text().toString().toStdString();
        }
    }
    EXPECT_FALSE(x.hasError()) << x.errorString().toStdString();
    return results;
}

TEST(RegistryXml, ApplicableAndInapplicableResultsReadBackElementByElement)
{
    SVerificationRecord passed = Passed(11);
    passed.Owner = "ООО <Тепло & Сеть> \"север\"\x01";
    passed.Conditions.Other = "вибрация отсутствует";
    SVerificationRecord failed = Failed(12);
    failed.Meter.Model = "Другая";
    failed.VerificationType.reset();
    const std::string xml = RegistryXml({passed, failed}, Lab());
    EXPECT_NE(xml.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"), std::string::npos);
    const auto results = ReadRegistry(xml);
    ASSERT_EQ(results.size(), 2u);

    const std::map<std::string, std::string> expectPassed = {
        {"miInfo/singleMI/mitypeNumber", "12345-06"},
        {"miInfo/singleMI/manufactureNum", "21345"},
        {"miInfo/singleMI/manufactureYear", "2019"},
        {"miInfo/singleMI/modification", "исполнение 07"},
        {"signCipher", "ГЦИ"},
        {"miOwner", "ООО <Тепло & Сеть> \"север\""},
        {"vrfDate", "2024-05-01+03:00"},
        {"validDate", "2028-04-30+03:00"},  // 48 months less a day
        {"type", "2"},
        {"calibration", "false"},
        {"applicable/signPass", "true"},
        {"applicable/signMi", "false"},
        {"docTitle", "МП 123-2019 Счётчики. Методика поверки"},
        {"metrologist", "Петрова А. С."},
        {"means/mieta/number", "3.1.ZZZ.0001.2020"},
        {"means/mis/mi/typeNum", "71234-18"},
        {"means/mis/mi/manufactureNum", "0457"},
        {"conditions/temperature", "21,5 °C"},
        {"conditions/pressure", "100,4 кПа"},
        {"conditions/hymidity", "48 %"},
        {"conditions/other", "вибрация отсутствует"},
    };
    EXPECT_EQ(results[0], expectPassed);

    const auto& f = results[1];
    EXPECT_EQ(f.at("miInfo/singleMI/mitypeNumber"), "99999-99");  // the number for every other model
    EXPECT_EQ(f.at("miOwner"), "ООО «Теплосеть»");
    EXPECT_EQ(f.at("type"), "1");  // the laboratory's default kind
    EXPECT_EQ(f.at("inapplicable/reasons"), failed.Outcome);
    EXPECT_EQ(f.count("applicable/signPass"), 0u);
    EXPECT_EQ(f.count("validDate"), 0u);
    EXPECT_EQ(f.count("conditions/other"), 0u);
    EXPECT_EQ(f.size(), expectPassed.size() - 4 + 1);  // no validDate, applicable's two, other; the reason
}

TEST(RegistryXml, MissingFieldsRefusedByName)
{
    SLaboratorySettings lab = Lab();
    lab.SignCipher.clear();
    lab.TypeNumbers = {{"Другая", "1-1"}};
    lab.Standards.clear();
    lab.Instruments.clear();
    lab.IntervalMonths = 0;
    SVerificationRecord r = Passed(21);
    r.Conditions.Humidity.reset();
    r.Meter.ManufactureYear.reset();
    SVerificationRecord stopped = Passed(22);
    stopped.State = ERunState::Stopped;
    try {
        RegistryXml({r, stopped}, lab);
        FAIL() << "a document with missing fields was made";
    } catch (const EJournalError& e) {
        const std::string m = e.what();
        for (const char* name : {"запись №21", "mitypeNumber", "manufactureYear", "signCipher", "validDate", "means",
                                 "hymidity", "запись №22", "не завершена"})
            EXPECT_NE(m.find(name), std::string::npos) << name << " in " << m;
        EXPECT_EQ(m.find("docTitle"), std::string::npos) << m;
    }
    EXPECT_TRUE(MissingRegistryFields(Passed(1), Lab()).empty());
    EXPECT_THROW(RegistryXml({}, Lab()), EJournalError);
}

// The text of a PDF as pdftotext extracts it, or nullopt when the tool is missing.
std::optional<std::string> PdfText(const QString& path)
{
    const QString tool = QStandardPaths::findExecutable("pdftotext");
    if (tool.isEmpty()) return std::nullopt;
    QProcess p;
    p.start(tool, {"-enc", "UTF-8", path, "-"});
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput().toStdString();
}

TEST(ProtocolPdf, TextExtractedHoldsThePointsAndTheVerdict)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("protocol.pdf");
    SVerificationRecord failed = Failed(42);
    SaveDocument(path.toStdString(), ProtocolPdf({Passed(41), failed}, Lab()));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.read(5) == "%PDF-");
    const auto text = PdfText(path);
    if (!text) GTEST_SKIP() << "pdftotext is not installed (Debian package poppler-utils)";
    for (const char* s : {"ПРОТОКОЛ ПОВЕРКИ № 41", "ПРОТОКОЛ ПОВЕРКИ № 42", "ООО «Метрологический центр»",
                          "Дата поверки: 01.05.2024", "21345", "FS/A FS-25S", "12,1436", "0,2288", "0,1144",
                          "-5,157", "Заключение: годен", "Заключение: не годен", "температура воздуха 21,5 °C",
                          "Петрова А. С.", "Поверитель", "обратное", "3.1.ZZZ.0001.2020"})
        EXPECT_NE(text->find(s), std::string::npos) << s << "\n" << *text;
}

TEST(LaboratorySettings, SavedWholeAndReadBack)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("rivanta/laboratory.ini").toStdString();
    EXPECT_TRUE(LoadLaboratorySettings(path).Organisation.empty());
    SLaboratorySettings lab = Lab();
    lab.JournalLocation = "postgresql://lab@server/journal";
    lab.DefaultConditions.Other = "без вибрации";
    SaveLaboratorySettings(lab, path);
    const SLaboratorySettings back = LoadLaboratorySettings(path);
    EXPECT_EQ(back.Organisation, lab.Organisation);
    EXPECT_EQ(back.Technician, lab.Technician);
    EXPECT_EQ(back.JournalLocation, lab.JournalLocation);
    ASSERT_EQ(back.TypeNumbers.size(), 2u);
    EXPECT_EQ(back.TypeNumbers[0].Model, "Ривант-М");
    EXPECT_EQ(back.TypeNumbers[1].Number, "99999-99");
    EXPECT_EQ(back.SignCipher, "ГЦИ");
    EXPECT_EQ(back.OwnerDefault, lab.OwnerDefault);
    EXPECT_EQ(back.MethodTitle, lab.MethodTitle);
    EXPECT_EQ(back.IntervalMonths, 48);
    EXPECT_TRUE(back.SignPass);
    EXPECT_FALSE(back.SignMi);
    EXPECT_EQ(back.VerificationType, EVerificationType::First);
    EXPECT_EQ(back.MeansDescription, lab.MeansDescription);
    EXPECT_EQ(back.Standards, lab.Standards);
    ASSERT_EQ(back.Instruments.size(), 1u);
    EXPECT_EQ(back.Instruments[0].Serial, "0457");
    EXPECT_EQ(back.DefaultConditions.AirTemperature, 20.0);
    EXPECT_EQ(back.DefaultConditions.Pressure, 101.3);
    EXPECT_EQ(back.DefaultConditions.Other, "без вибрации");
    EXPECT_EQ(TypeNumberFor(back, "Ривант-М"), "12345-06");
    EXPECT_EQ(TypeNumberFor(back, "Иная"), "99999-99");

    // Entries that cannot be read keep their defaults; a figure with a decimal comma is taken.
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Registry]\nIntervalMonths=много\nVerificationType=7\n[Conditions]\nAirTemperature=22,5\n"
            "Humidity=nan\n[TypeNumbers]\nCount=99999\nModel1=X\n");
    f.close();
    const SLaboratorySettings odd = LoadLaboratorySettings(path);
    EXPECT_EQ(odd.IntervalMonths, 0);
    EXPECT_FALSE(odd.VerificationType);
    EXPECT_EQ(odd.DefaultConditions.AirTemperature, 22.5);
    EXPECT_FALSE(odd.DefaultConditions.Humidity);
    EXPECT_TRUE(odd.TypeNumbers.empty());

    // A folder that cannot be made: refused with a message, nothing half-written.
    EXPECT_THROW(SaveLaboratorySettings(lab, "/proc/rivanta/laboratory.ini"), EJournalError);
}

}  // namespace
}  // namespace rv::journal::test
