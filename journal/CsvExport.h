// Records as CSV for spreadsheets: UTF-8 with a byte order mark, fields separated by ';', lines ended by CR LF.
// A spreadsheet program in a Russian locale takes ',' as the decimal separator and ';' as the list separator,
// so the printed figures ("12,1436") arrive as numbers; without the mark it would read the text as the
// locale's ANSI code page.
#pragma once

#include "journal/JournalTypes.h"

#include <string>
#include <string_view>
#include <vector>

namespace rv::journal {

// One line per record (with its points as columns, as many as the record with the most); the records should
// be whole (TJournal::Get).
std::string RecordsCsv(const std::vector<SVerificationRecord>& records);
// A field quoted when it holds ';', '"', a line break or outer blanks; a text a spreadsheet would take for a
// formula (=, +, -, @ first, and not a number) is led by an apostrophe so that it stays text.
std::string CsvField(std::string_view text);

}  // namespace rv::journal
