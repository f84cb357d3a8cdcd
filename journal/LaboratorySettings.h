// The laboratory's settings, entered once: organisation, technician, the registry fields, the means of
// verification and the default conditions; kept as an INI file beside the form state
// ($XDG_CONFIG_HOME/rivanta/laboratory.ini), written whole or not at all.
#pragma once

#include "journal/JournalTypes.h"

#include <optional>
#include <string>
#include <vector>

namespace rv::journal {

// The registration number of a meter model in the federal registry of types.
struct STypeNumber {
    std::string Model;   // as the records name it; empty serves every model without a number of its own
    std::string Number;  // e.g. "12345-06"
};

// A measuring instrument used as a means of verification.
struct SMeansInstrument {
    std::string TypeNumber;  // its type's registration number
    std::string Serial;
};

struct SLaboratorySettings {
    std::string Organisation;
    std::string Technician;       // the name the runs are recorded under unless the technician gives another
    std::string JournalLocation;  // a path or a postgresql:// URL; empty: the default file
    // The registry
    std::vector<STypeNumber> TypeNumbers;
    std::string SignCipher;     // the laboratory's verification mark cipher
    std::string OwnerDefault;   // the meters' owner when a record names none
    std::string MethodTitle;    // the verification method (its document's title)
    int IntervalMonths = 0;     // the verification interval
    bool SignPass = false;      // a mark is put in the meter's passport
    bool SignMi = false;        // a mark is put on the meter
    std::optional<EVerificationType> VerificationType;  // the kind a record takes when it names none
    // The means of verification
    std::string MeansDescription;                 // as the printed protocol names them
    std::vector<std::string> Standards;           // registration numbers of the standards used
    std::vector<SMeansInstrument> Instruments;    // measuring instruments used
    SConditions DefaultConditions;
};

// Longest list kept in the file.
constexpr size_t kMaxSettingsListItems = 100;

// $XDG_CONFIG_HOME/rivanta/laboratory.ini (default ~/.config/rivanta/laboratory.ini).
std::string LaboratorySettingsPath();
// The settings in the file; defaults for a missing file and for entries that cannot be read. Never throws.
SLaboratorySettings LoadLaboratorySettings(const std::string& path);
// Writes the whole file beside the old one and renames it over; throws EJournalError, leaving the old file
// as it was, when that fails.
void SaveLaboratorySettings(const SLaboratorySettings& settings, const std::string& path);
// The type registration number for a model: its own, else the one for every model; empty when neither is set.
std::string TypeNumberFor(const SLaboratorySettings& settings, const std::string& model);

}  // namespace rv::journal
