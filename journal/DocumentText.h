// What the documents of a record share: dates and numbers as a Russian reader writes them, the names of the
// kinds of verification, and saving a document whole or not at all.
#pragma once

#include "journal/JournalTypes.h"

#include <optional>
#include <string>

namespace rv::journal {

// "01.05.2024" and "10:15" in the record's own local time.
std::string LocalDate(const STimestamp& t);
std::string LocalTime(const STimestamp& t);
// "UTC+03:00"
std::string OffsetText(int offsetMinutes);
// A figure with a decimal comma and at most `decimals` decimals, trailing zeros dropped; "" when unset.
std::string CommaNumber(const std::optional<double>& value, int decimals);
// "первичная", "периодическая", or "" when unset.
std::string VerificationTypeText(const std::optional<EVerificationType>& type);

// Writes a document beside its file and renames it over; throws EJournalError naming the file.
void SaveDocument(const std::string& path, const std::string& bytes);

}  // namespace rv::journal
