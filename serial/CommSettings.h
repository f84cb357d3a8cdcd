// The settings objects a port owns: character format, queue sizes with the default time-outs,
// and the special characters. Each setter re-applies through the port it belongs to; on an open
// port each getter reports what the device has.
#pragma once

#include <cstdint>

#include "CommTypes.h"
#include "core/TObject.h"

namespace rv {

class TCustomComm;

// A settings object that can take the values of another of its kind.
class TPersistent : public TObject {
public:
    virtual const char* ClassName() const = 0;
    // Copies the values of Source, which must be of the same class (else EConvertError).
    virtual void Assign(const TPersistent& Source);

protected:
    [[noreturn]] void AssignError(const TPersistent& Source) const;
};

class TCommDataControl : public TPersistent {
public:
    explicit TCommDataControl(TCustomComm* Comm = nullptr) : comm_(Comm) {}
    const char* ClassName() const override { return "TCommDataControl"; }
    // Takes the values as Source's getters report them and re-applies them to an open port.
    void Assign(const TPersistent& Source) override;

    TDataBits GetDataBits() const;
    void SetDataBits(TDataBits Value);
    TParity GetParity() const;
    void SetParity(TParity Value);
    TStopBits GetStopBits() const;
    void SetStopBits(TStopBits Value);

private:
    friend class TCustomComm;
    TCustomComm* comm_;
    TDataBits dataBits_ = db8;
    TParity parity_ = paNone;
    TStopBits stopBits_ = sb1;
};

class TCommBuffers : public TPersistent {
public:
    explicit TCommBuffers(TCustomComm* Comm = nullptr) : comm_(Comm) {}
    const char* ClassName() const override { return "TCommBuffers"; }
    void Assign(const TPersistent& Source) override;

    // Index 0: input queue, 1: output queue. Sizes are clamped to 128..8192; a changed size is
    // applied to an open port at once (which purges its queues). Other indices store nothing.
    uint16_t GetSize(int Index) const;
    void SetSize(int Index, int Value);
    uint16_t GetInputSize() const { return GetSize(0); }
    void SetInputSize(int Value) { SetSize(0, Value); }
    uint16_t GetOutputSize() const { return GetSize(1); }
    void SetOutputSize(int Value) { SetSize(1, Value); }
    // Defaults of ReadData and SendData, in milliseconds; they affect only later calls.
    uint16_t GetInputTimeout() const { return inputTimeout_; }
    void SetInputTimeout(uint16_t Value) { inputTimeout_ = Value; }
    uint16_t GetOutputTimeout() const { return outputTimeout_; }
    void SetOutputTimeout(uint16_t Value) { outputTimeout_ = Value; }

private:
    friend class TCustomComm;
    TCustomComm* comm_;
    uint16_t inputSize_ = 2048;
    uint16_t inputTimeout_ = 500;
    uint16_t outputSize_ = 2048;
    uint16_t outputTimeout_ = 500;
};

class TCommEventChars : public TPersistent {
public:
    explicit TCommEventChars(TCustomComm* Comm = nullptr) : comm_(Comm) {}
    const char* ClassName() const override { return "TCommEventChars"; }
    void Assign(const TPersistent& Source) override;

    // Index 0 XonChar, 1 XoffChar, 2 EofChar, 3 ErrorChar, 4 EventChar; others read 0 and store nothing.
    uint8_t GetChar(int Index) const;
    void SetChar(int Index, uint8_t Value);
    uint8_t GetXonChar() const { return GetChar(0); }
    void SetXonChar(uint8_t Value) { SetChar(0, Value); }
    uint8_t GetXoffChar() const { return GetChar(1); }
    void SetXoffChar(uint8_t Value) { SetChar(1, Value); }
    uint8_t GetEofChar() const { return GetChar(2); }
    void SetEofChar(uint8_t Value) { SetChar(2, Value); }
    uint8_t GetErrorChar() const { return GetChar(3); }
    void SetErrorChar(uint8_t Value) { SetChar(3, Value); }
    uint8_t GetEventChar() const { return GetChar(4); }
    void SetEventChar(uint8_t Value) { SetChar(4, Value); }

private:
    friend class TCustomComm;
    TCustomComm* comm_;
    uint8_t chars_[5] = {0x11, 0x13, 0x00, 0x00, 0x0A};
};

}  // namespace rv
