// The CSV table of records.
#include "journal/CsvExport.h"

#include "journal/DocumentText.h"
#include "journal/Verdict.h"

#include <algorithm>

namespace rv::journal {

std::string CsvField(std::string_view text)
{
    std::string t(text);
    SPrintedNumber number;
    if (!t.empty() && (t[0] == '=' || t[0] == '+' || t[0] == '-' || t[0] == '@' || t[0] == '\t' || t[0] == '\r') &&
        !ParsePrintedNumber(t, number))
        t.insert(t.begin(), '\'');
    const bool quote = t.find_first_of(";\"\r\n") != std::string::npos ||
                       (!t.empty() && (t.front() == ' ' || t.back() == ' '));
    if (!quote) return t;
    std::string q = "\"";
    for (char c : t) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::string RecordsCsv(const std::vector<SVerificationRecord>& records)
{
    size_t points = 0;
    for (const SVerificationRecord& r : records) points = std::max(points, r.Points.size());

    std::string out = "\xEF\xBB\xBF";
    auto line = [&out](const std::vector<std::string>& fields) {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i) out += ';';
            out += CsvField(fields[i]);
        }
        out += "\r\n";
    };
    std::vector<std::string> head = {
        "№ протокола", "Идентификатор поверки", "Дата", "Начало", "Окончание", "Часовой пояс", "Поверитель",
        "Рабочее место", "Версия программы", "Порт", "Заводской № счётчика", "Модель", "Модификация",
        "Год выпуска", "Модуль", "Исполнение", "Версия ПО счётчика", "Позиция датчика", "Тип датчика",
        "Обозначение датчика", "Заводской № датчика", "Диаметр, м", "QVmax, м3/ч", "KFS", "Обратное направление",
        "Доп. информация", "Вид поверки", "Владелец", "Температура воздуха, °C", "Влажность, %", "Давление, кПа",
        "Прочие условия", "Результат", "Примечание", "Повторы", "Тайм-ауты", "Ошибки контрольной суммы"};
    for (size_t k = 1; k <= points; ++k) {
        const std::string p = "Точка " + std::to_string(k) + ": ";
        for (const char* c : {"направление", "номинальный расход, м3/ч", "заданный расход, м3/ч",
                              "измеренный расход, м3/ч", "относительная погрешность, %",
                              "допустимая погрешность, %", "вывод"})
            head.push_back(p + c);
    }
    line(head);
    for (const SVerificationRecord& r : records) {
        std::vector<std::string> f = {
            std::to_string(r.Id), r.RunId, LocalDate(r.Started), LocalTime(r.Started),
            r.Ended ? LocalTime(*r.Ended) : "", OffsetText(r.Started.OffsetMinutes), r.Technician, r.Workstation,
            r.ProgramVersion, r.Port, r.Meter.Serial, r.Meter.Model, r.Meter.Modification,
            r.Meter.ManufactureYear ? std::to_string(*r.Meter.ManufactureYear) : "",
            std::to_string(r.Meter.ModuleNumber), std::to_string(r.Meter.Execution), r.Meter.SoftwareVersion,
            std::to_string(r.Sensor.Position + 1), r.Sensor.Type, r.Sensor.Designation, r.Sensor.Serial,
            CommaNumber(r.Sensor.Diameter, 4), r.Sensor.QVmax, r.Sensor.Kfs, r.Reverse ? "да" : "нет",
            r.ExtraInfo ? "да" : "нет", VerificationTypeText(r.VerificationType), r.Owner,
            CommaNumber(r.Conditions.AirTemperature, 2), CommaNumber(r.Conditions.Humidity, 2),
            CommaNumber(r.Conditions.Pressure, 2), r.Conditions.Other, StateText(r.State), r.Outcome,
            std::to_string(r.Line.Repetitions), std::to_string(r.Line.Timeouts),
            std::to_string(r.Line.ChecksumFailures)};
        for (size_t k = 0; k < points; ++k) {
            if (k >= r.Points.size()) {
                f.insert(f.end(), 7, "");
                continue;
            }
            const SVerificationPoint& p = r.Points[k];
            f.insert(f.end(), {DirectionText(p.Direction), p.Nominal, p.Set, p.Measured, p.RelativeError,
                               p.AllowedError, PointVerdictText(JudgePoint(p))});
        }
        line(f);
    }
    return out;
}

}  // namespace rv::journal
