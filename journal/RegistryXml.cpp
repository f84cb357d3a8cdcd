// The registry document, written with QXmlStreamWriter so that every text is escaped. A failed meter gets
// `inapplicable` with the failing points as its reasons and no validity date.
#include "journal/RegistryXml.h"

#include "journal/DocumentText.h"

#include <QDate>
#include <QDateTime>
#include <QTimeZone>
#include <QXmlStreamWriter>

namespace rv::journal {

namespace {

std::string Metrologist(const SVerificationRecord& r, const SLaboratorySettings& lab)
{
    return r.Technician.empty() ? lab.Technician : r.Technician;
}

std::string Owner(const SVerificationRecord& r, const SLaboratorySettings& lab)
{
    return r.Owner.empty() ? lab.OwnerDefault : r.Owner;
}

std::optional<EVerificationType> Kind(const SVerificationRecord& r, const SLaboratorySettings& lab)
{
    return r.VerificationType ? r.VerificationType : lab.VerificationType;
}

QDate VerificationDate(const SVerificationRecord& r)
{
    return QDateTime::fromMSecsSinceEpoch(r.Started.UtcMs, QTimeZone(r.Started.OffsetMinutes * 60)).date();
}

// "2024-05-01+03:00": the date with the UTC offset of the place it was taken.
QString DateWithOffset(const QDate& date, int offsetMinutes)
{
    const int a = std::abs(offsetMinutes);
    return date.toString("yyyy-MM-dd") + (offsetMinutes < 0 ? "-" : "+") +
           QString("%1:%2").arg(a / 60, 2, 10, QChar('0')).arg(a % 60, 2, 10, QChar('0'));
}

// XML 1.0 has no place for most control characters, not even escaped; a record's text may hold some.
QString XmlText(QString s)
{
    s.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF;
    });
    return s;
}

class TResultWriter {
public:
    explicit TResultWriter(QXmlStreamWriter& x) : x_(x) {}
    void Text(const char* name, const std::string& value) { Text(name, QString::fromStdString(value)); }
    void Text(const char* name, const QString& value)
    {
        x_.writeTextElement(kRegistryNamespace, name, XmlText(value));
    }
    void Open(const char* name) { x_.writeStartElement(kRegistryNamespace, name); }
    void Close() { x_.writeEndElement(); }

private:
    QXmlStreamWriter& x_;
};

}  // namespace

std::vector<std::string> MissingRegistryFields(const SVerificationRecord& r, const SLaboratorySettings& lab)
{
    std::vector<std::string> m;
    if (r.State != ERunState::Passed && r.State != ERunState::Failed) {
        m.push_back("результат поверки (поверка не завершена)");
        return m;
    }
    if (TypeNumberFor(lab, r.Meter.Model).empty())
        m.push_back("регистрационный номер типа (mitypeNumber) для модели «" + r.Meter.Model + "»");
    if (r.Meter.Serial.empty()) m.push_back("заводской номер счётчика (manufactureNum)");
    if (!r.Meter.ManufactureYear) m.push_back("год выпуска (manufactureYear)");
    if (r.Meter.Modification.empty()) m.push_back("модификация (modification)");
    if (lab.SignCipher.empty()) m.push_back("шифр знака поверки (signCipher)");
    if (Owner(r, lab).empty()) m.push_back("владелец (miOwner)");
    if (!Kind(r, lab)) m.push_back("вид поверки (type)");
    if (r.State == ERunState::Passed && lab.IntervalMonths <= 0) m.push_back("межповерочный интервал (validDate)");
    if (lab.MethodTitle.empty()) m.push_back("методика поверки (docTitle)");
    if (Metrologist(r, lab).empty()) m.push_back("поверитель (metrologist)");
    if (lab.Standards.empty() && lab.Instruments.empty()) m.push_back("средства поверки (means)");
    if (!r.Conditions.AirTemperature) m.push_back("температура (temperature)");
    if (!r.Conditions.Pressure) m.push_back("давление (pressure)");
    if (!r.Conditions.Humidity) m.push_back("влажность (hymidity)");
    return m;
}

std::string RegistryXml(const std::vector<SVerificationRecord>& records, const SLaboratorySettings& lab)
{
    std::string refused;
    for (const SVerificationRecord& r : records) {
        const std::vector<std::string> missing = MissingRegistryFields(r, lab);
        if (missing.empty()) continue;
        refused += "\nзапись №" + std::to_string(r.Id) + ": ";
        for (size_t i = 0; i < missing.size(); ++i) refused += (i ? ", " : "") + missing[i];
    }
    if (records.empty()) throw EJournalError("Документ для реестра не составлен: не выбрано ни одной записи.");
    if (!refused.empty())
        throw EJournalError("Документ для реестра не составлен, не заданы поля (настройки лаборатории или запись):" +
                            refused);

    QByteArray bytes;
    QXmlStreamWriter x(&bytes);
    x.setAutoFormatting(true);
    x.writeStartDocument();
    x.writeNamespace(kRegistryNamespace, "gost");
    x.writeStartElement(kRegistryNamespace, "application");
    TResultWriter w(x);
    for (const SVerificationRecord& r : records) {
        const QDate date = VerificationDate(r);
        const int offset = r.Started.OffsetMinutes;
        w.Open("result");
        w.Open("miInfo");
        w.Open("singleMI");
        w.Text("mitypeNumber", TypeNumberFor(lab, r.Meter.Model));
        w.Text("manufactureNum", r.Meter.Serial);
        w.Text("manufactureYear", QString::number(*r.Meter.ManufactureYear));
        w.Text("modification", r.Meter.Modification);
        w.Close();
        w.Close();
        w.Text("signCipher", lab.SignCipher);
        w.Text("miOwner", Owner(r, lab));
        w.Text("vrfDate", DateWithOffset(date, offset));
        // A meter found unfit has no validity.
        if (r.State == ERunState::Passed)
            w.Text("validDate", DateWithOffset(date.addMonths(lab.IntervalMonths).addDays(-1), offset));
        w.Text("type", QString::number(static_cast<int>(*Kind(r, lab))));
        w.Text("calibration", QString("false"));
        if (r.State == ERunState::Passed) {
            w.Open("applicable");
            w.Text("signPass", QString(lab.SignPass ? "true" : "false"));
            w.Text("signMi", QString(lab.SignMi ? "true" : "false"));
            w.Close();
        } else {
            w.Open("inapplicable");
            w.Text("reasons", r.Outcome.empty() ? std::string("не прошли поверку точки расхода") : r.Outcome);
            w.Close();
        }
        w.Text("docTitle", lab.MethodTitle);
        w.Text("metrologist", Metrologist(r, lab));
        w.Open("means");
        if (!lab.Standards.empty()) {
            w.Open("mieta");
            for (const std::string& n : lab.Standards) w.Text("number", n);
            w.Close();
        }
        if (!lab.Instruments.empty()) {
            w.Open("mis");
            for (const SMeansInstrument& mi : lab.Instruments) {
                w.Open("mi");
                w.Text("typeNum", mi.TypeNumber);
                w.Text("manufactureNum", mi.Serial);
                w.Close();
            }
            w.Close();
        }
        w.Close();
        w.Open("conditions");
        w.Text("temperature", CommaNumber(r.Conditions.AirTemperature, 2) + " °C");
        w.Text("pressure", CommaNumber(r.Conditions.Pressure, 2) + " кПа");
        w.Text("hymidity", CommaNumber(r.Conditions.Humidity, 2) + " %");
        if (!r.Conditions.Other.empty()) w.Text("other", r.Conditions.Other);
        w.Close();
        w.Close();
    }
    x.writeEndElement();
    x.writeEndDocument();
    return bytes.toStdString();
}

}  // namespace rv::journal
