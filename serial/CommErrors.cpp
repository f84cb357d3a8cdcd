// The driver's message table and the error raisers.
#include "CommErrors.h"

#include <cerrno>
#include <iterator>
#include <cstring>

namespace rv {

const char* const SInvalidBaudRate = "'%s' is not a valid baud rate value.";
const char* const SInvalidFlowControl = "'%s' is not a valid flow control value.";
const char* const SInvalidDataBits = "'%s' is not a valid data bits value.";
const char* const SInvalidParity = "'%s' is not a valid parity value.";
const char* const SInvalidStopBits = "'%s' is not a valid stop bits value.";
const char* const SDOpenError = "Не возможно открыть устройство %s";
const char* const SCommOpened = "Устройство уже открыто.";
const char* const SCommClosed = "Устройство не открыто.";
const char* const SInvalidDCB = "Не возможно обновить контрольный блок устройства.";
const char* const SInvalidIOSize = "Не возможно обновить буфер в.в.";
const char* const SLockedSend = "Устройство закрыто. Не возможно произвести запись.";
const char* const SLockedRead = "Устройство закрыто. Не возможно произвести чтение.";
// The blank before the full stop is part of the text.
const char* const SNoCommandState = "Не существующая команда модема .";
const char* const SReadError = "Не способен считать из порта.";
const char* const SSendError = "Не способен записать в порт.";

namespace {
const SCommMessage kMessages[] = {
    {65520, "SInvalidBaudRate", SInvalidBaudRate, -1},
    {65521, "SInvalidFlowControl", SInvalidFlowControl, -1},
    {65522, "SInvalidDataBits", SInvalidDataBits, -1},
    {65523, "SInvalidParity", SInvalidParity, -1},
    {65524, "SInvalidStopBits", SInvalidStopBits, -1},
    {65525, "SDOpenError", SDOpenError, ecDOpenError},
    {65526, "SCommOpened", SCommOpened, ecCommOpened},
    {65527, "SCommClosed", SCommClosed, ecCommClosed},
    {65528, "SInvalidDCB", SInvalidDCB, ecInvalidDCB},
    {65529, "SInvalidIOSize", SInvalidIOSize, ecInvalidIOSize},
    {65530, "SLockedSend", SLockedSend, ecLockedSend},
    {65531, "SLockedRead", SLockedRead, ecLockedRead},
    {65532, "SNoCommandState", SNoCommandState, ecNoCommandState},
    {65534, "SReadError", SReadError, ecReadError},
    {65535, "SSendError", SSendError, ecSendError},
};
}  // namespace

const char* CommMessageText(unsigned Id)
{
    for (const auto& m : kMessages)
        if (m.Id == Id) return m.Text;
    return nullptr;
}

const SCommMessage* CommMessages(int& count)
{
    count = static_cast<int>(std::size(kMessages));
    return kMessages;
}

std::string FormatMessage(const char* Format, const std::string& Arg)
{
    std::string out;
    for (const char* p = Format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += Arg;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

void XCommError(const std::string& Msg, int Code) { throw EDeviceError(Msg, Code); }

void XCommWin32Error(const std::string& Msg, int Code, int SystemError, const std::string& SystemText)
{
    throw EDeviceError(Msg + " (Win32 error " + std::to_string(SystemError) + ": " + SystemText + ")", Code);
}

void XCommWin32Error(const std::string& Msg, int Code)
{
    const int e = errno;
    char buf[256];
    // The GNU strerror_r returns the text, which may or may not be in buf.
    const char* text = strerror_r(e, buf, sizeof buf);
    XCommWin32Error(Msg, Code, e, text ? text : "");
}

}  // namespace rv
