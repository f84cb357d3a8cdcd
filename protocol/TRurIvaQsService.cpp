// The service requests of the link protocol component (identity, RAM and flash, password, time,
// keys, display, control sum, module counter) and the device type and condition names.
#include "TRurIvaQs.h"

#include <cstring>
#include <iterator>
#include <string>

#include "protocol/Frame.h"

namespace rv {

namespace {

const char* const kUndefined = "Не определен.";

// Indexed by the high byte of a device code.
const char* const kDeviceTypes[21] = {
    kUndefined,
    kUndefined,
    kUndefined,
    kUndefined,
    kUndefined,
    kUndefined,
    kUndefined,
    "Корректор газа Kadu V1.X",
    "Адаптер KaduA V1.X",
    "Программатор Kadu V1.X",
    "Корректор газа Kadu V2.X",
    "Корректор газа Kadu V4.X",
    kUndefined,
    kUndefined,
    kUndefined,
    kUndefined,
    "Тепловодосчетчик VexaМ V1.X",
    "Адаптер VexaА V1.X",
    "Сервисное устройство VexaМА",
    kUndefined,
    "Тепловодосчетчик VexaМ V2.X",
};

// Indexed by the high byte of a condition code.
const char* const kDeviceConditions[4] = {"OK", "Warning", "Error", "Stopped"};

unsigned HighByte(unsigned short code)
{
    return static_cast<unsigned>(code) >> 8;
}

void CheckReadCount(const char* request, unsigned n)
{
    if (n > TRurIvaQs::kMaxReadCount)
        throw EProtocolError(std::string(request) + ": за один запрос можно прочитать не более " +
                             std::to_string(TRurIvaQs::kMaxReadCount) + " байт (запрошено " + std::to_string(n) + ").");
}

void CheckWrite(const char* request, unsigned n, unsigned limit, const void* data)
{
    if (n > limit)
        throw EProtocolError(std::string(request) + ": за один запрос можно записать не более " +
                             std::to_string(limit) + " байт (запрошено " + std::to_string(n) + ").");
    if (n > 0 && !data) throw EProtocolError(std::string(request) + ": не переданы данные для записи.");
}

}  // namespace

bool TRurIvaQs::Multic(unsigned short code)
{
    const unsigned type = HighByte(code);
    return type == 16 || type == 20 || type == 11;
}

bool TRurIvaQs::IncludeDevices(unsigned short code)
{
    return HighByte(code) == 8;
}

const char* TRurIvaQs::GetDeviceTypeStr(unsigned short code)
{
    const unsigned type = HighByte(code);
    return type < std::size(kDeviceTypes) ? kDeviceTypes[type] : "Не определенный тип.";
}

const char* TRurIvaQs::GetDeviceConditionStr(unsigned short code)
{
    const unsigned condition = HighByte(code);
    return condition < std::size(kDeviceConditions) ? kDeviceConditions[condition] : "Не определенное состояние.";
}

// Parameter layouts below are in frame order, little-endian.

void TRurIvaQs::GetDeviceID()
{
    SendRequest(0x0F, nullptr, 0, TAnswerKind::Identity);
}

void TRurIvaQs::ReadRAM(unsigned short addr, unsigned char n)
{
    CheckReadCount("ReadRAM", n);
    uint8_t* p = BeginRequest(0x10);
    PutU16(p, addr);
    p[2] = n;
    FinishRequest(3, TAnswerKind::Framed);
}

void TRurIvaQs::WriteRAM(unsigned short addr, unsigned char n, const void* data)
{
    CheckWrite("WriteRAM", n, kMaxWriteData, data);
    uint8_t* p = BeginRequest(0x20);
    PutU16(p, addr);
    p[2] = n;
    if (n) std::memcpy(p + 3, data, n);
    FinishRequest(3u + n, TAnswerKind::Acknowledge);
}

void TRurIvaQs::ReadFlash(unsigned short addr, unsigned char n)
{
    CheckReadCount("ReadFlash", n);
    uint8_t* p = BeginRequest(0x30);
    PutU16(p, addr);
    p[2] = n;
    FinishRequest(3, TAnswerKind::Framed);
}

void TRurIvaQs::ReadFlashLarge(unsigned int addr, unsigned char n)
{
    CheckReadCount("ReadFlashLarge", n);
    uint8_t* p = BeginRequest(0x31);
    PutU32(p, addr);
    p[4] = n;
    FinishRequest(5, TAnswerKind::Framed);
}

void TRurIvaQs::WriteFlash(unsigned short addr, unsigned char n, const void* data)
{
    CheckWrite("WriteFlash", n, kMaxWriteData, data);
    uint8_t* p = BeginRequest(0x40);
    PutU16(p, addr);
    p[2] = n;
    if (n) std::memcpy(p + 3, data, n);
    FinishRequest(3u + n, TAnswerKind::Acknowledge);
}

void TRurIvaQs::WriteFlashLarge(unsigned int addr, unsigned char n, const void* data)
{
    CheckWrite("WriteFlashLarge", n, kMaxWriteLargeData, data);
    uint8_t* p = BeginRequest(0x41);
    PutU32(p, addr);
    p[4] = n;
    if (n) std::memcpy(p + 5, data, n);
    FinishRequest(5u + n, TAnswerKind::Acknowledge);
}

void TRurIvaQs::SetPassword(unsigned int value)
{
    uint8_t* p = BeginRequest(0x50);
    PutU32(p, value);
    FinishRequest(4, TAnswerKind::Acknowledge);
}

void TRurIvaQs::IDCOMAND(unsigned int value)
{
    SetPassword(value);
}

void TRurIvaQs::SetTime(const SNextTime* time)
{
    if (!time) throw EProtocolError("SetTime: не передана запись времени.");
    SendRequest(0x51, time->Bytes, SNextTime::kSize, TAnswerKind::Acknowledge);
}

void TRurIvaQs::KeyPress(unsigned char key)
{
    SendRequest(0x53, &key, 1, TAnswerKind::Acknowledge);
}

void TRurIvaQs::GetDisplayData()
{
    SendRequest(0x54, nullptr, 0, TAnswerKind::Framed);
}

void TRurIvaQs::ClearFlashF149()
{
    SendRequest(0x55, nullptr, 0, TAnswerKind::Acknowledge);
}

void TRurIvaQs::WriteFlashF149(unsigned short addr, unsigned char n, const void* data)
{
    constexpr uint8_t kF149Address = 0xCA;
    CheckWrite("WriteFlashF149", n, kMaxWriteData, data);
    uint8_t* p = BeginRequestTo(kF149Address, 0x5A);
    p[0] = n;
    PutU16(p + 1, addr);
    if (n) std::memcpy(p + 3, data, n);
    FinishRequest(3u + n, TAnswerKind::Acknowledge);
}

void TRurIvaQs::GetCtrSUM(unsigned short value)
{
    uint8_t p[2];
    PutU16(p, value);
    SendRequest(0x07, p, sizeof p, TAnswerKind::Framed);
}

void TRurIvaQs::GetModuleCounter(unsigned short code)
{
    if (!Multic(code)) {
        OnReceiveModuleCounter(0);
        return;
    }
    SendRequest(0x08, nullptr, 0, TAnswerKind::ModuleCounter);
}

}  // namespace rv
