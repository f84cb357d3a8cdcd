// Conversions between settings and texts, the receive time-out, the error texts and the
// device path of a port name.
#include <gtest/gtest.h>

#include <cerrno>
#include <iterator>

#include "serial/CommErrors.h"
#include "serial/CommTypes.h"
#include "serial/PosixSerialPlatform.h"

using namespace rv;

namespace {

template <class Fn>
std::string ConvertError(Fn&& fn)
{
    try {
        fn();
    } catch (const EConvertError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(CommConvert, BaudRatesFromTextAreExactAndUnknownNumbersAreCustom)
{
    EXPECT_EQ(StrToBaudRate("9600"), br9600);
    EXPECT_EQ(StrToBaudRate("256000"), br256000);
    EXPECT_EQ(StrToBaudRate("12345"), brCustom);
    EXPECT_EQ(StrToBaudRate("09600"), brCustom);  // digits, but not the table's text
    EXPECT_EQ(ConvertError([] { StrToBaudRate("96a0"); }), "'96a0' is not a valid baud rate value.");
    EXPECT_EQ(ConvertError([] { StrToBaudRate(""); }), "'' is not a valid baud rate value.");
    EXPECT_EQ(ConvertError([] { StrToBaudRate(" 9600"); }), "' 9600' is not a valid baud rate value.");
    EXPECT_EQ(BaudRateToStr(br110), "110");
    EXPECT_EQ(BaudRateToStr(br128000), "128000");
    EXPECT_EQ(BaudRateToStr(brCustom), "");
    for (int i = 0; i < BaudRateCount; ++i)
        EXPECT_EQ(StrToBaudRate(BaudRateToStr(static_cast<TBaudRate>(i))), static_cast<TBaudRate>(i));
}

TEST(CommConvert, DataBitsStopBitsParityAndFlowControl)
{
    EXPECT_EQ(DataBitsToChar(db4), '4');
    EXPECT_EQ(DataBitsToChar(db8), '8');
    EXPECT_EQ(CharToDataBits('7'), db7);
    EXPECT_EQ(ConvertError([] { CharToDataBits('9'); }), "'9' is not a valid data bits value.");
    EXPECT_EQ(ConvertError([] { CharToDataBits('3'); }), "'3' is not a valid data bits value.");

    EXPECT_EQ(StopBitsToStr(sb1p5), "1.5");
    EXPECT_EQ(StrToStopBits("2"), sb2);
    EXPECT_EQ(StrToStopBits("1.5"), sb1p5);
    EXPECT_EQ(ConvertError([] { StrToStopBits("1,5"); }), "'1,5' is not a valid stop bits value.");
    EXPECT_EQ(StopBitsToStr(static_cast<TStopBits>(7)), "");

    EXPECT_EQ(StrToParity("even"), paEven);
    EXPECT_EQ(StrToParity("SPACE"), paSpace);
    EXPECT_EQ(ParityToStr(paMark), "Mark");
    EXPECT_EQ(ConvertError([] { StrToParity("Evn"); }), "'Evn' is not a valid parity value.");
    EXPECT_EQ(ParityToStr(static_cast<TParity>(9)), "");

    EXPECT_EQ(StrToFlowControl("xon/xoff"), fcSoftware);
    EXPECT_EQ(StrToFlowControl("CTS/RTS"), fcCTS);
    EXPECT_EQ(FlowControlToStr(fcDTR), "DTR/DSR");
    EXPECT_EQ(FlowControlToStr(fcCustom), "Custom");
    EXPECT_EQ(ConvertError([] { StrToFlowControl("Custom"); }), "'Custom' is not a valid flow control value.");
}

TEST(CommConvert, ReceiveTimeoutRoundsHalvesToEvenAndAddsOneMillisecond)
{
    EXPECT_EQ(GetRXTimeout(9600, 20), 22u);
    EXPECT_EQ(GetRXTimeout(9600, 1), 2u);
    EXPECT_EQ(GetRXTimeout(1200, 20), 168u);
    EXPECT_EQ(GetRXTimeout(115200, 1), 1u);
    EXPECT_EQ(GetRXTimeout(20000, 1), 1u);  // 0.5 -> 0
    EXPECT_EQ(GetRXTimeout(20000, 3), 3u);  // 1.5 -> 2
    EXPECT_EQ(GetRXTimeout(9600, 0), 1u);
    EXPECT_EQ(GetRXTimeout(0, 20), 1u);  // no rate: only the spare
    EXPECT_EQ(GetRXTimeout(1, 0xFFFFFFFFu), 0xFFFFFFFFu);  // saturates instead of wrapping
}

TEST(CommErrors, MessageTableAndSystemErrorWording)
{
    // The driver's messages as its users know them, with the code each is raised with (-1: a
    // conversion error, which has none).
    struct Row {
        unsigned id;
        const char* name;
        const char* text;
        int code;
    };
    const Row table[] = {
        {65520, "SInvalidBaudRate", "'%s' is not a valid baud rate value.", -1},
        {65521, "SInvalidFlowControl", "'%s' is not a valid flow control value.", -1},
        {65522, "SInvalidDataBits", "'%s' is not a valid data bits value.", -1},
        {65523, "SInvalidParity", "'%s' is not a valid parity value.", -1},
        {65524, "SInvalidStopBits", "'%s' is not a valid stop bits value.", -1},
        {65525, "SDOpenError", "Не возможно открыть устройство %s", 65535},
        {65526, "SCommOpened", "Устройство уже открыто.", 2},
        {65527, "SCommClosed", "Устройство не открыто.", 1},
        {65528, "SInvalidDCB", "Не возможно обновить контрольный блок устройства.", 3},
        {65529, "SInvalidIOSize", "Не возможно обновить буфер в.в.", 6},
        {65530, "SLockedSend", "Устройство закрыто. Не возможно произвести запись.", 4},
        {65531, "SLockedRead", "Устройство закрыто. Не возможно произвести чтение.", 5},
        {65532, "SNoCommandState", "Не существующая команда модема .", 7},
        {65534, "SReadError", "Не способен считать из порта.", 10},
        {65535, "SSendError", "Не способен записать в порт.", 11},
    };
    int n = 0;
    const SCommMessage* all = CommMessages(n);
    ASSERT_EQ(n, static_cast<int>(std::size(table)));
    for (int i = 0; i < n; ++i) {
        const Row& want = table[i];
        EXPECT_EQ(all[i].Id, want.id) << want.name;
        EXPECT_STREQ(all[i].Name, want.name);
        EXPECT_STREQ(all[i].Text, want.text) << want.name;
        EXPECT_EQ(all[i].Code, want.code) << want.name;
        EXPECT_STREQ(CommMessageText(want.id), want.text) << want.name;
    }
    EXPECT_STREQ(SLockedSend, "Устройство закрыто. Не возможно произвести запись.");
    EXPECT_STREQ(SLockedRead, "Устройство закрыто. Не возможно произвести чтение.");
    EXPECT_EQ(CommMessageText(65533), nullptr);
    EXPECT_EQ(FormatMessage(SDOpenError, "COM7"), "Не возможно открыть устройство COM7");

    try {
        XCommWin32Error(SReadError, ecReadError, 5, "Input/output error");
        FAIL();
    } catch (const EDeviceError& e) {
        EXPECT_STREQ(e.what(), "Не способен считать из порта. (Win32 error 5: Input/output error)");
        EXPECT_EQ(e.ErrorCode, 10);
    }
    errno = ENOENT;
    try {
        XCommWin32Error(SSendError, ecSendError);
        FAIL();
    } catch (const EDeviceError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Не способен записать в порт. (Win32 error 2: ", 0), 0u) << e.what();
        EXPECT_EQ(e.ErrorCode, 11);
    }
}

TEST(PosixDevicePath, MapsPortNamesToDevices)
{
    EXPECT_EQ(PosixDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(PosixDevicePath("com12"), "/dev/ttyS11");
    EXPECT_EQ(PosixDevicePath("LPT2"), "/dev/lp1");
    EXPECT_EQ(PosixDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(PosixDevicePath("/dev/serial/by-id/usb-x"), "/dev/serial/by-id/usb-x");
    EXPECT_EQ(PosixDevicePath("COM0"), "/dev/COM0");  // no COM0: an ordinary name
    EXPECT_EQ(PosixDevicePath("COMX"), "/dev/COMX");
}
