// What the port driver needs of the system: one open device with its control block, queues,
// line functions, non-blocking transfers and waits, and the platform that opens devices and
// keeps the millisecond ticks. Implemented over termios (PosixSerialPlatform) and by a test fake.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rv {

// The device control block: every line setting as one record.
struct SDeviceControlBlock {
    uint32_t DCBlength = 28;
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;  // the dcbF* bits below
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;    // 0..4: none, odd, even, mark, space
    uint8_t StopBits = 0;  // 0..2: 1, 1.5, 2
    uint8_t XonChar = 0;
    uint8_t XoffChar = 0;
    uint8_t ErrorChar = 0;
    uint8_t EofChar = 0;
    uint8_t EvtChar = 0;
};

// Bits of SDeviceControlBlock::Flags.
enum : uint32_t {
    dcbFBinary = 0x0001,
    dcbFParity = 0x0002,
    dcbFOutxCtsFlow = 0x0004,
    dcbFOutxDsrFlow = 0x0008,
    dcbFDtrControlShift = 4,  // two bits: TFlowSettings
    dcbFDtrControlMask = 0x0030,
    dcbFDsrSensitivity = 0x0040,
    dcbFTXContinueOnXoff = 0x0080,
    dcbFOutX = 0x0100,
    dcbFInX = 0x0200,
    dcbFErrorChar = 0x0400,
    dcbFNull = 0x0800,
    dcbFRtsControlShift = 12,  // two bits: TFlowSettings
    dcbFRtsControlMask = 0x3000,
    dcbFAbortOnError = 0x4000,
};

// Line control modes of the DTR and RTS fields.
enum : uint32_t { lineControlDisable = 0, lineControlEnable = 1, lineControlHandshake = 2, lineControlToggle = 3 };

struct SCommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Status of the queues: Flags bit i is TCommStatusFlag i.
struct SCommStat {
    uint32_t Flags = 0;
    uint32_t InQue = 0;
    uint32_t OutQue = 0;
};

struct SCommProp {
    uint32_t MaxBaud = 0;  // one of the baud* bits below
    uint32_t CurrentRxQueue = 0;
    uint32_t CurrentTxQueue = 0;
};

enum : uint32_t {
    baud075 = 0x1, baud110 = 0x2, baud134_5 = 0x4, baud150 = 0x8, baud300 = 0x10, baud600 = 0x20,
    baud1200 = 0x40, baud1800 = 0x80, baud2400 = 0x100, baud4800 = 0x200, baud7200 = 0x400,
    baud9600 = 0x800, baud14400 = 0x1000, baud19200 = 0x2000, baud38400 = 0x4000, baud56k = 0x8000,
    baud128k = 0x10000, baud115200 = 0x20000, baud57600 = 0x40000, baudUser = 0x10000000
};

// Purge flags.
enum : uint32_t { purgeTxAbort = 1, purgeRxAbort = 2, purgeTxClear = 4, purgeRxClear = 8 };

// Escape functions.
enum : uint32_t {
    escSetXoff = 1, escSetXon = 2, escSetRts = 3, escClrRts = 4, escSetDtr = 5, escClrDtr = 6,
    escSetBreak = 8, escClrBreak = 9
};

// Modem status bits.
enum : uint32_t { msCtsOn = 0x10, msDsrOn = 0x20, msRingOn = 0x40, msRlsdOn = 0x80 };

// Error bits returned by ClearError.
enum : uint32_t { ceRxOver = 0x1, ceOverrun = 0x2, ceRxParity = 0x4, ceFrame = 0x8, ceBreak = 0x10 };

// Event bits: bit i is TDeviceEvent i.
enum : uint32_t {
    evRxChar = 0x0001, evRxFlag = 0x0002, evTxEmpty = 0x0004, evCts = 0x0008, evDsr = 0x0010, evRlsd = 0x0020,
    evBreak = 0x0040, evErr = 0x0080, evRing = 0x0100
};

enum class TWaitResult {
    Ready,      // the awaited condition holds
    TimedOut,   // the time ran out first
    Cancelled,  // Cancel() was called: the device is being closed
    Failed      // the device failed or vanished; LastError tells why
};

// One open device. Operations that fail return false (or -1) and leave the reason in the
// platform's LastError of the calling thread. Transfers and waits may run on several threads
// at once; the settings operations are called from one thread.
class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // The settings in force, as the device took them; fBinary always reads set (the line is binary).
    virtual bool GetState(SDeviceControlBlock& dcb) = 0;
    // Applies every setting of dcb; what the device cannot express is kept and read back as given.
    virtual bool SetState(const SDeviceControlBlock& dcb) = 0;
    // Requests queue sizes; GetProperties reports them back.
    virtual bool SetupQueues(uint32_t inSize, uint32_t outSize) = 0;
    virtual bool SetTimeouts(const SCommTimeouts& timeouts) = 0;
    virtual bool GetTimeouts(SCommTimeouts& timeouts) = 0;
    // purge* flags: the clear flags discard the queue's bytes.
    virtual bool Purge(uint32_t flags) = 0;
    // The ce* errors since the last call (then cleared), the status flags and the queue counts.
    virtual bool ClearError(uint32_t& errors, SCommStat& stat) = 0;
    virtual bool GetProperties(SCommProp& prop) = 0;
    // esc* codes. Lines a device does not have fail the call and are simply not there.
    virtual bool Escape(uint32_t function) = 0;
    // ms* bits of the modem lines; fails where the device has no modem lines.
    virtual bool GetModemStatus(uint32_t& status) = 0;

    // Non-blocking: the bytes moved at once (0 when none can be), -1 on failure.
    virtual int64_t Read(void* buffer, uint32_t count) = 0;
    virtual int64_t Write(const void* buffer, uint32_t count) = 0;
    // Wait up to ms milliseconds for input to read / room to write; no CPU is used while waiting.
    virtual TWaitResult WaitReadable(uint32_t ms) = 0;
    virtual TWaitResult WaitWritable(uint32_t ms) = 0;
    // Waits ms milliseconds unless the device is cancelled or fails first (TimedOut when it ran out).
    virtual TWaitResult Pause(uint32_t ms) = 0;

    // ev* bits the event wait reports.
    virtual bool SetEventMask(uint32_t mask) = 0;
    // Blocks until an event of the mask occurs (Ready, events set), the device is cancelled or it
    // fails. A failure is reported once and then for good, without spinning.
    virtual TWaitResult WaitEvent(uint32_t& events) = 0;
    // Any thread: wakes every wait on this device and makes every later wait return Cancelled.
    virtual void Cancel() = 0;
    // evRxChar waits until this many bytes are queued (1..255; 0 counts as 1); reads and the other
    // waits are not delayed by it, the failure report at most by the line time of a packet's rest.
    // Kept across SetState. A device that cannot count may ignore it: every byte then raises the event.
    virtual bool SetReceiveThreshold(uint32_t bytes)
    {
        (void)bytes;
        return true;
    }
};

class ISerialPlatform {
public:
    virtual ~ISerialPlatform() = default;

    // Opens the named device for reading and writing, shared with no one; null on failure.
    virtual std::unique_ptr<ISerialDevice> Open(const std::string& name) = 0;
    // Millisecond ticks; take differences in unsigned 32-bit arithmetic.
    virtual uint32_t TickCount() = 0;
    // The last system error of the calling thread, and its text.
    virtual int LastError() = 0;
    virtual std::string ErrorText(int error) = 0;
    // Names of the serial ports present, for a port list.
    virtual std::vector<std::string> ListPorts() = 0;
};

// The platform new ports use: the POSIX one unless a test set another. Null restores the POSIX one.
ISerialPlatform& DefaultSerialPlatform();
void SetDefaultSerialPlatform(ISerialPlatform* platform);

}  // namespace rv
