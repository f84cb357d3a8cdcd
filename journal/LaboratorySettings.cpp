// The laboratory's settings in an INI file: one section per group, lists as Count and numbered keys.
#include "journal/LaboratorySettings.h"

#include "controls/Errors.h"
#include "controls/NumberText.h"
#include "controls/TIniDocument.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>

namespace rv::journal {

namespace {

std::optional<double> ReadNumber(const TIniDocument& ini, const char* section, const char* key)
{
    const auto text = ini.ReadString(section, key);
    long double v = 0;
    if (!text || text->empty() || !ParseExtended(*text, '.', v) || !std::isfinite(static_cast<double>(v)))
        return std::nullopt;
    return static_cast<double>(v);
}

void WriteNumber(TIniDocument& ini, const char* section, const char* key, const std::optional<double>& v)
{
    char text[64] = "";
    if (v && std::isfinite(*v)) std::snprintf(text, sizeof text, "%.10g", *v);
    ini.WriteString(section, key, text);
}

bool ReadFlag(const TIniDocument& ini, const char* section, const char* key)
{
    return ini.ReadInteger(section, key, 0) != 0;
}

int ReadCount(const TIniDocument& ini, const char* section)
{
    const int n = ini.ReadInteger(section, "Count", 0);
    return n < 0 ? 0 : std::min(n, static_cast<int>(kMaxSettingsListItems));
}

std::string Numbered(const char* key, size_t i) { return key + std::to_string(i + 1); }

}  // namespace

std::string LaboratorySettingsPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const QString base = config && *config == '/' ? QString::fromUtf8(config) : QDir::homePath() + "/.config";
    return (base + "/rivanta/laboratory.ini").toStdString();
}

SLaboratorySettings LoadLaboratorySettings(const std::string& path)
{
    SLaboratorySettings s;
    TIniDocument ini;
    if (!ini.LoadFile(path)) return s;
    s.Organisation = ini.ReadString("Laboratory", "Organisation", "");
    s.Technician = ini.ReadString("Laboratory", "Technician", "");
    s.JournalLocation = ini.ReadString("Laboratory", "Journal", "");
    s.SignCipher = ini.ReadString("Registry", "SignCipher", "");
    s.OwnerDefault = ini.ReadString("Registry", "Owner", "");
    s.MethodTitle = ini.ReadString("Registry", "MethodTitle", "");
    s.IntervalMonths = std::clamp(ini.ReadInteger("Registry", "IntervalMonths", 0), 0, 1200);
    s.SignPass = ReadFlag(ini, "Registry", "SignPass");
    s.SignMi = ReadFlag(ini, "Registry", "SignMi");
    const int type = ini.ReadInteger("Registry", "VerificationType", 0);
    if (type == 1 || type == 2) s.VerificationType = static_cast<EVerificationType>(type);
    for (int i = 0, n = ReadCount(ini, "TypeNumbers"); i < n; ++i) {
        STypeNumber t{ini.ReadString("TypeNumbers", Numbered("Model", i), ""),
                      ini.ReadString("TypeNumbers", Numbered("Number", i), "")};
        if (!t.Number.empty()) s.TypeNumbers.push_back(t);
    }
    s.MeansDescription = ini.ReadString("Means", "Description", "");
    for (int i = 0, n = ReadCount(ini, "Standards"); i < n; ++i)
        if (auto v = ini.ReadString("Standards", Numbered("Number", i), ""); !v.empty()) s.Standards.push_back(v);
    for (int i = 0, n = ReadCount(ini, "Instruments"); i < n; ++i) {
        SMeansInstrument m{ini.ReadString("Instruments", Numbered("TypeNumber", i), ""),
                           ini.ReadString("Instruments", Numbered("Serial", i), "")};
        if (!m.TypeNumber.empty() || !m.Serial.empty()) s.Instruments.push_back(m);
    }
    s.DefaultConditions.AirTemperature = ReadNumber(ini, "Conditions", "AirTemperature");
    s.DefaultConditions.Humidity = ReadNumber(ini, "Conditions", "Humidity");
    s.DefaultConditions.Pressure = ReadNumber(ini, "Conditions", "Pressure");
    s.DefaultConditions.Other = ini.ReadString("Conditions", "Other", "");
    return s;
}

void SaveLaboratorySettings(const SLaboratorySettings& s, const std::string& path)
{
    TIniDocument ini;
    ini.WriteString("Laboratory", "Organisation", s.Organisation);
    ini.WriteString("Laboratory", "Technician", s.Technician);
    ini.WriteString("Laboratory", "Journal", s.JournalLocation);
    ini.WriteString("Registry", "SignCipher", s.SignCipher);
    ini.WriteString("Registry", "Owner", s.OwnerDefault);
    ini.WriteString("Registry", "MethodTitle", s.MethodTitle);
    ini.WriteInteger("Registry", "IntervalMonths", s.IntervalMonths);
    ini.WriteInteger("Registry", "SignPass", s.SignPass ? 1 : 0);
    ini.WriteInteger("Registry", "SignMi", s.SignMi ? 1 : 0);
    ini.WriteInteger("Registry", "VerificationType", s.VerificationType ? static_cast<int>(*s.VerificationType) : 0);
    const size_t types = std::min(s.TypeNumbers.size(), kMaxSettingsListItems);
    ini.WriteInteger("TypeNumbers", "Count", static_cast<int>(types));
    for (size_t i = 0; i < types; ++i) {
        ini.WriteString("TypeNumbers", Numbered("Model", i), s.TypeNumbers[i].Model);
        ini.WriteString("TypeNumbers", Numbered("Number", i), s.TypeNumbers[i].Number);
    }
    ini.WriteString("Means", "Description", s.MeansDescription);
    const size_t standards = std::min(s.Standards.size(), kMaxSettingsListItems);
    ini.WriteInteger("Standards", "Count", static_cast<int>(standards));
    for (size_t i = 0; i < standards; ++i) ini.WriteString("Standards", Numbered("Number", i), s.Standards[i]);
    const size_t instruments = std::min(s.Instruments.size(), kMaxSettingsListItems);
    ini.WriteInteger("Instruments", "Count", static_cast<int>(instruments));
    for (size_t i = 0; i < instruments; ++i) {
        ini.WriteString("Instruments", Numbered("TypeNumber", i), s.Instruments[i].TypeNumber);
        ini.WriteString("Instruments", Numbered("Serial", i), s.Instruments[i].Serial);
    }
    WriteNumber(ini, "Conditions", "AirTemperature", s.DefaultConditions.AirTemperature);
    WriteNumber(ini, "Conditions", "Humidity", s.DefaultConditions.Humidity);
    WriteNumber(ini, "Conditions", "Pressure", s.DefaultConditions.Pressure);
    ini.WriteString("Conditions", "Other", s.DefaultConditions.Other);

    const QString dir = QFileInfo(QString::fromStdString(path)).absolutePath();
    if (!QDir().mkpath(dir))
        throw EJournalError("Настройки лаборатории не сохранены: не удаётся создать папку «" + dir.toStdString() + "».");
    try {
        ini.SaveFile(path);
    } catch (const EFileError& e) {
        throw EJournalError(std::string("Настройки лаборатории не сохранены: ") + e.what());
    }
}

std::string TypeNumberFor(const SLaboratorySettings& settings, const std::string& model)
{
    std::string common;
    for (const STypeNumber& t : settings.TypeNumbers) {
        if (!model.empty() && t.Model == model) return t.Number;
        if (t.Model.empty() && common.empty()) common = t.Number;
    }
    return common;
}

}  // namespace rv::journal
