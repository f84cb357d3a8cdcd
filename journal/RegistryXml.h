// The registry document of verification results: the upload format laboratories use, root `application` in
// the registry's namespace, one `result` per verification.
#pragma once

#include "journal/JournalTypes.h"
#include "journal/LaboratorySettings.h"

#include <string>
#include <vector>

namespace rv::journal {

constexpr const char* kRegistryNamespace = "urn://fgis-arshin.gost.ru/module-verifications/import/2020-06-19";

// What a record lacks for the registry, each named for the technician with its element ("шифр знака поверки
// (signCipher)"); empty when it can be sent. Only passed and failed runs can be sent.
std::vector<std::string> MissingRegistryFields(const SVerificationRecord& record, const SLaboratorySettings& lab);
// The document, UTF-8; throws EJournalError naming every missing field of every record instead of filling
// any of them with a placeholder.
std::string RegistryXml(const std::vector<SVerificationRecord>& records, const SLaboratorySettings& lab);

}  // namespace rv::journal
