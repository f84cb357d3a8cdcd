// The records' documents from the GUI.
#include "app/gui/RecordDocuments.h"

#include "app/window/IPrompter.h"
#include "journal/CsvExport.h"
#include "journal/DocumentText.h"
#include "journal/ProtocolPdf.h"
#include "journal/RegistryXml.h"

#include <QPrintDialog>
#include <QPrinter>

#include <functional>
#include <optional>
#include <string>

namespace rv {

namespace {

constexpr const char* kCaption = "Журнал поверок";

bool NothingChosen(IPrompter& prompter, const std::vector<journal::SVerificationRecord>& records)
{
    if (!records.empty()) return false;
    prompter.Message("Выберите записи журнала.", kCaption);
    return true;
}

// "Протокол_12_21345.pdf" for one record, "Протоколы_3.pdf" for several.
std::string ProtocolFileName(const std::vector<journal::SVerificationRecord>& records)
{
    if (records.size() != 1) return "Протоколы_" + std::to_string(records.size()) + ".pdf";
    const journal::SVerificationRecord& r = records.front();
    return "Протокол_" + std::to_string(r.Id) + (r.Meter.Serial.empty() ? "" : "_" + r.Meter.Serial) + ".pdf";
}

// Asks for the file, makes the document and saves it; what fails is told.
bool SaveAs(IPrompter& prompter, const SSaveDialog& dialog, const std::function<std::string()>& make)
{
    const std::optional<std::string> path = prompter.SaveFileName(dialog);
    if (!path) return false;
    try {
        journal::SaveDocument(*path, make());
        return true;
    } catch (const std::exception& e) {
        prompter.Message(e.what(), "Ошибка");
        return false;
    }
}

}  // namespace

bool PrintProtocols(QWidget* parent, IPrompter& prompter, const std::vector<journal::SVerificationRecord>& records,
                    const journal::SLaboratorySettings& lab)
{
    if (NothingChosen(prompter, records)) return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setDocName(QString::fromStdString(ProtocolFileName(records)).chopped(4));
    QPrintDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("PrintDialog"));
    dialog.setWindowTitle(records.size() == 1 ? QStringLiteral("Печать протокола")
                                              : QStringLiteral("Печать протоколов"));
    if (dialog.exec() != QDialog::Accepted) return false;
    try {
        journal::PaintProtocols(printer, records, lab);
        return true;
    } catch (const std::exception& e) {
        prompter.Message(std::string("Протокол не напечатан: ") + e.what(), "Ошибка");
        return false;
    }
}

bool SaveProtocolsPdf(IPrompter& prompter, const std::vector<journal::SVerificationRecord>& records,
                      const journal::SLaboratorySettings& lab)
{
    if (NothingChosen(prompter, records)) return false;
    return SaveAs(prompter, {"Сохранение протокола", "Документ PDF|*.pdf", "pdf", ProtocolFileName(records)},
                  [&] { return journal::ProtocolPdf(records, lab); });
}

bool SaveRecordsCsv(IPrompter& prompter, const std::vector<journal::SVerificationRecord>& records)
{
    if (NothingChosen(prompter, records)) return false;
    return SaveAs(prompter, {"Выгрузка журнала", "Таблица CSV|*.csv", "csv", "Журнал_поверок.csv"},
                  [&] { return journal::RecordsCsv(records); });
}

bool SaveRegistryXml(IPrompter& prompter, const std::vector<journal::SVerificationRecord>& records,
                     const journal::SLaboratorySettings& lab)
{
    if (NothingChosen(prompter, records)) return false;
    std::string xml;
    try {
        xml = journal::RegistryXml(records, lab);
    } catch (const std::exception& e) {
        prompter.Message(std::string(e.what()) +
                             "\n\nПоля записи вводятся в ней самой (кнопки «Сведения…» и «Условия…» открытой записи), "
                             "поля лаборатории — в настройках лаборатории.",
                         "Выгрузка для реестра невозможна");
        return false;
    }
    return SaveAs(prompter, {"Выгрузка для реестра", "Документ XML|*.xml", "xml", "Поверки_для_реестра.xml"},
                  [&] { return xml; });
}

}  // namespace rv
