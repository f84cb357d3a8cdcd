// Rate and name tables, and the conversions between line settings and their texts.
#include "CommTypes.h"

#include <strings.h>

#include "CommErrors.h"

namespace rv {

const char* const STR_FLOWCONTROL[4] = {"None", "CTS/RTS", "DTR/DSR", "XOn/XOff"};
const char* const STR_PARITY[5] = {"None", "Odd", "Even", "Mark", "Space"};

uint32_t BaudRateValue(TBaudRate rate)
{
    return BitsPerSecond(rate);
}

TBaudRate BaudRateOfValue(uint32_t value)
{
    for (int i = 0; i < BaudRateCount; ++i)
        if (BaudRateTable[i] == value) return static_cast<TBaudRate>(i);
    return brCustom;
}

std::string BaudRateToStr(TBaudRate rate)
{
    const uint32_t v = BaudRateValue(rate);
    return v ? std::to_string(v) : std::string();
}

TBaudRate StrToBaudRate(const std::string& s)
{
    for (int i = 0; i < BaudRateCount; ++i)
        if (s == std::to_string(BaudRateTable[i])) return static_cast<TBaudRate>(i);
    bool digits = !s.empty();
    for (char c : s) digits = digits && c >= '0' && c <= '9';
    if (digits) return brCustom;
    throw EConvertError(FormatMessage(SInvalidBaudRate, s));
}

char DataBitsToChar(TDataBits bits) { return static_cast<char>('4' + static_cast<int>(bits)); }

TDataBits CharToDataBits(char ch)
{
    if (ch >= '4' && ch <= '8') return static_cast<TDataBits>(ch - '4');
    throw EConvertError(FormatMessage(SInvalidDataBits, std::string(1, ch)));
}

std::string StopBitsToStr(TStopBits bits)
{
    switch (bits) {
        case sb1: return "1";
        case sb1p5: return "1.5";
        case sb2: return "2";
    }
    return {};
}

TStopBits StrToStopBits(const std::string& s)
{
    if (s == "1") return sb1;
    if (s == "1.5") return sb1p5;
    if (s == "2") return sb2;
    throw EConvertError(FormatMessage(SInvalidStopBits, s));
}

std::string FlowControlToStr(TFlowControl flow)
{
    const int i = static_cast<int>(flow);
    if (i >= 0 && i < 4) return STR_FLOWCONTROL[i];
    return flow == fcCustom ? "Custom" : "";
}

TFlowControl StrToFlowControl(const std::string& s)
{
    for (int i = 0; i < 4; ++i)
        if (strcasecmp(s.c_str(), STR_FLOWCONTROL[i]) == 0) return static_cast<TFlowControl>(i);
    throw EConvertError(FormatMessage(SInvalidFlowControl, s));
}

std::string ParityToStr(TParity parity)
{
    const int i = static_cast<int>(parity);
    return i >= 0 && i < 5 ? STR_PARITY[i] : "";
}

TParity StrToParity(const std::string& s)
{
    for (int i = 0; i < 5; ++i)
        if (strcasecmp(s.c_str(), STR_PARITY[i]) == 0) return static_cast<TParity>(i);
    throw EConvertError(FormatMessage(SInvalidParity, s));
}

uint32_t GetRXTimeout(uint32_t Baud, uint32_t Count)
{
    if (Baud == 0) return 1;
    const uint64_t num = static_cast<uint64_t>(Count) * 10000u;
    uint64_t q = num / Baud;
    const uint64_t twiceRest = (num % Baud) * 2;
    if (twiceRest > Baud || (twiceRest == Baud && (q & 1))) ++q;
    ++q;
    return q > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(q);
}

}  // namespace rv
