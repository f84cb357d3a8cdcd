// The documents of journal records from the GUI: the protocols printed through the system's print dialog or saved
// as PDF, the records as CSV for spreadsheets and as the registry's XML. Each asks the technician where to, tells
// what failed in a message box, and is done whole or not at all.
#pragma once

#include "journal/JournalTypes.h"
#include "journal/LaboratorySettings.h"

#include <vector>

class QWidget;

namespace rv {

class IPrompter;

// The records must be whole (TJournal::Get). Each returns true when the document was made.
bool PrintProtocols(QWidget* parent, IPrompter& prompter, const std::vector<journal::SVerificationRecord>& records,
                    const journal::SLaboratorySettings& lab);
bool SaveProtocolsPdf(IPrompter& prompter, const std::vector<journal::SVerificationRecord>& records,
                      const journal::SLaboratorySettings& lab);
bool SaveRecordsCsv(IPrompter& prompter, const std::vector<journal::SVerificationRecord>& records);
// Refused, before any file is asked for, with a message naming what the records and the laboratory's settings
// lack for the registry.
bool SaveRegistryXml(IPrompter& prompter, const std::vector<journal::SVerificationRecord>& records,
                     const journal::SLaboratorySettings& lab);

}  // namespace rv
