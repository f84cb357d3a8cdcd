// Conversions between settings and texts, the receive time-out, the error texts and the
// device path of a port name.
#include <gtest/gtest.h>

#include <cerrno>

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
    EXPECT_STREQ(CommMessageText(65525), "Не возможно открыть устройство %s");
    EXPECT_STREQ(CommMessageText(65532), "Не существующая команда модема .");
    EXPECT_EQ(CommMessageText(65533), nullptr);
    int n = 0;
    const SCommMessage* all = CommMessages(n);
    ASSERT_EQ(n, 15);
    EXPECT_EQ(all[n - 1].Code, 11);
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
