// The printable protocol of a verification as a PDF document (A4), in the form of a laboratory's protocol:
// organisation, number, date, the meter and sensor, conditions, means, the points table, the error chart,
// the verdict and the signature lines. Needs a QGuiApplication (fonts); the offscreen platform will do.
#pragma once

#include "journal/JournalTypes.h"
#include "journal/LaboratorySettings.h"

#include <string>
#include <vector>

namespace rv::journal {

// The protocols of whole records (TJournal::Get), each from a new page; the bytes of the PDF file.
// Throws EJournalError when there is nothing to print or no GUI application runs.
std::string ProtocolPdf(const std::vector<SVerificationRecord>& records, const SLaboratorySettings& lab);

}  // namespace rv::journal
