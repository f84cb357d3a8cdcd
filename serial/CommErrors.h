// Errors of the serial port driver: the device error with its code, the conversion error, and
// the driver's message table.
#pragma once

#include <stdexcept>
#include <string>

namespace rv {

// Every failure of the driver except the conversions: a message and a numeric code.
class EDeviceError : public std::runtime_error {
public:
    EDeviceError(const std::string& Message, int Code) : std::runtime_error(Message), ErrorCode(Code) {}
    int ErrorCode;
};

// A text that is not a valid setting value, or an assignment between settings objects of
// different kinds.
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const std::string& Message) : std::runtime_error(Message) {}
};

// The message table: string ids, texts and the codes raised with them (-1: conversion error).
struct SCommMessage {
    unsigned Id;
    const char* Name;
    const char* Text;
    int Code;
};

extern const char* const SInvalidBaudRate;
extern const char* const SInvalidFlowControl;
extern const char* const SInvalidDataBits;
extern const char* const SInvalidParity;
extern const char* const SInvalidStopBits;
extern const char* const SDOpenError;
extern const char* const SCommOpened;
extern const char* const SCommClosed;
extern const char* const SInvalidDCB;
extern const char* const SInvalidIOSize;
extern const char* const SLockedSend;
extern const char* const SLockedRead;
extern const char* const SNoCommandState;
extern const char* const SReadError;
extern const char* const SSendError;

// The codes that accompany the messages above.
enum TCommErrorCode {
    ecCommClosed = 1,
    ecCommOpened = 2,
    ecInvalidDCB = 3,
    ecLockedSend = 4,
    ecLockedRead = 5,
    ecInvalidIOSize = 6,
    ecNoCommandState = 7,
    ecReadError = 10,
    ecSendError = 11,
    ecDOpenError = 65535
};

// The text of a string-table id, or nullptr when the table has none.
const char* CommMessageText(unsigned Id);
const SCommMessage* CommMessages(int& count);

// Replaces each "%s" of Format with Arg.
std::string FormatMessage(const char* Format, const std::string& Arg);

[[noreturn]] void XCommError(const std::string& Msg, int Code);
// Msg, then " (Win32 error ", the system error number, ": ", its text, ")". The number and text
// are errno and strerror here; the wording stays because callers parse it.
[[noreturn]] void XCommWin32Error(const std::string& Msg, int Code, int SystemError, const std::string& SystemText);
// The same with the calling thread's errno.
[[noreturn]] void XCommWin32Error(const std::string& Msg, int Code);

}  // namespace rv
