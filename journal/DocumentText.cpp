// Dates, numbers and files of the documents.
#include "journal/DocumentText.h"

#include "controls/Errors.h"
#include "controls/WholeFile.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace rv::journal {

namespace {

QDateTime Local(const STimestamp& t)
{
    return QDateTime::fromMSecsSinceEpoch(t.UtcMs, QTimeZone(t.OffsetMinutes * 60));
}

}  // namespace

std::string LocalDate(const STimestamp& t) { return Local(t).toString("dd.MM.yyyy").toStdString(); }
std::string LocalTime(const STimestamp& t) { return Local(t).toString("HH:mm").toStdString(); }

std::string OffsetText(int offsetMinutes)
{
    const int a = std::abs(offsetMinutes);
    char text[32];
    std::snprintf(text, sizeof text, "UTC%c%02d:%02d", offsetMinutes < 0 ? '-' : '+', a / 60, a % 60);
    return text;
}

std::string CommaNumber(const std::optional<double>& value, int decimals)
{
    if (!value || !std::isfinite(*value)) return {};
    QString s = QString::number(*value, 'f', decimals);
    if (s.contains('.')) {
        while (s.endsWith('0')) s.chop(1);
        if (s.endsWith('.')) s.chop(1);
    }
    if (s == "-0") s = "0";
    return s.replace('.', ',').toStdString();
}

std::string VerificationTypeText(const std::optional<EVerificationType>& type)
{
    if (!type) return {};
    return *type == EVerificationType::First ? "первичная" : "периодическая";
}

void SaveDocument(const std::string& path, const std::string& bytes)
{
    try {
        WriteFileWhole(path, bytes);
    } catch (const EFileError& e) {
        throw EJournalError(e.what());
    }
}

}  // namespace rv::journal
