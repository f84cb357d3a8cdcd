// The printable protocol of a verification as a PDF document (A4), in the form of a laboratory's protocol:
// organisation, number, date, the meter and sensor, conditions, means, the points table, the error chart,
// the verdict and the signature lines. Needs a QGuiApplication (fonts); the offscreen platform will do.
#pragma once

#include "journal/JournalTypes.h"
#include "journal/LaboratorySettings.h"

#include <string>
#include <vector>

class QPagedPaintDevice;

namespace rv::journal {

// Paints the protocols on any paged device (a PDF writer, or a printer chosen in the system's print dialog),
// each record from a new page, the margins being the device's. Throws EJournalError when there is nothing to
// paint, no GUI application runs or the device cannot be painted on.
void PaintProtocols(QPagedPaintDevice& device, const std::vector<SVerificationRecord>& records,
                    const SLaboratorySettings& lab);

// The protocols of whole records (TJournal::Get) on A4; the bytes of the PDF file. Throws as PaintProtocols.
std::string ProtocolPdf(const std::vector<SVerificationRecord>& records, const SLaboratorySettings& lab);

}  // namespace rv::journal
