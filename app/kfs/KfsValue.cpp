// The check of a typed KFS coefficient.
#include "app/kfs/KfsValue.h"

#include "controls/NumberText.h"
#include "core/Cp1251.h"
#include "core/Locale.h"

namespace rv {

SKfsValue CheckKfsValue(const std::string& typed)
{
    SKfsValue r;
    long double v = 0.0L;
    if (!ParseExtended(typed, DecimalSeparator(), v)) {
        r.Message = "Значение \"" + typed + "\" не является числом.";
        return r;
    }
    // The meter divides its readings by it: a value far outside this range measures nothing a sensor could.
    if (!(v >= kKfsMin && v <= kKfsMax)) {
        r.Message = "Коэффициент KFS \"" + typed + "\" вне допустимого диапазона " + FormatFixed(0.1, 1) + " … " +
                    FormatFixed(10.0, 0) + ".";
        return r;
    }
    // The text goes to the meter beside the float; cut, it would say another number.
    if (ToCp1251(typed).size() > kKfsTextChars) {
        r.Message = "Текст коэффициента KFS \"" + typed + "\" длиннее " + std::to_string(kKfsTextChars) +
                    " знаков: поле KFS прибора его не вместит.";
        return r;
    }
    r.Value = static_cast<float>(v);
    r.Verdict = v >= kKfsUsualMin && v <= kKfsUsualMax ? kvUsual : kvUnusual;
    return r;
}

std::string UnusualKfsQuestion(const std::string& typed)
{
    return "Коэффициент " + typed + " необычно далек от 1. Записать?";
}

}  // namespace rv
