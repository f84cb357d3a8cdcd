// The link protocol component: one request at a time, sent after a short delay, its echo and answer
// awaited with a time-out and repeated on failure, the answer decoded and reported through events.
// Also the service requests that every device of the family understands.
//
// Threading: timers, requests, the link's packet cutting, the decoders and every event run on the one
// loop thread (the device link hands the driver's data events over to it), so no state here is
// guarded by a lock. Call every operation on the loop thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "core/Event.h"
#include "core/IDeviceLink.h"
#include "core/Loop.h"
#include "core/TObject.h"
#include "core/TTimer.h"
#include "core/Trace.h"
#include "protocol/ProtocolTypes.h"

namespace rv {

// A handler that calls obj->*Method and holds nothing but the object pointer, so that storing it
// in an event never allocates (a plain object + member pointer binding is too big for the small
// buffer of std::function). Use it for handlers installed by requests.
template <auto Method, class T>
auto BindMethod(T* obj)
{
    return [obj](auto... args) { return (obj->*Method)(args...); };
}

class TRurIvaQs : public TComponent {
public:
    using TRepetitionEvent = Event<void(int Repetition)>;
    using TReceiveExecutedEvent = Event<void(short Length, unsigned char* Buffer)>;
    using TReceivedIDDeviceEvent = Event<void(const SIDDevice* IDDevice)>;
    using TModemCommandEvent = Event<void(void* Buf, int Size)>;
    using TTransmitErrorEvent = Event<void(const std::exception& Error)>;
    // A decoder of the link's packets: a member of this class or of a descendant (static_cast).
    using PacketDecoder = void (TRurIvaQs::*)(unsigned char* Data, int Size);

    static constexpr size_t kBufferSize = 1000;
    // Largest data counts of the service requests, so that the frame stays within 255 bytes.
    static constexpr unsigned kMaxWriteData = 246;       // 2-byte address and a count byte
    static constexpr unsigned kMaxWriteLargeData = 244;  // 4-byte address and a count byte
    static constexpr unsigned kMaxReadCount = 250;       // the largest payload of an answer

    // Timers run on the given loop (the current loop when null).
    explicit TRurIvaQs(TComponent* owner = nullptr, Loop* loop = nullptr);
    // Clears the handlers it installed on its link; the link must still exist (or be detached first).
    ~TRurIvaQs() override;

    // --- Published properties
    // The link for all traffic; not owned. Switching links clears the handlers left on the old one.
    void SetDeviceComm(IDeviceLink* link);
    IDeviceLink* GetDeviceComm() const { return link_; }
    // 0 and 255 are refused: the old address stays.
    void SetMasterNetAddress(uint8_t address);
    uint8_t GetMasterNetAddress() const { return master_; }
    // 0 and 239..255 are refused: the old address stays.
    void SetSlaveNetAddress(uint8_t address);
    uint8_t GetSlaveNetAddress() const { return slave_; }
    void SetWorkType(TWorkType type) { workType_ = type; }
    TWorkType GetWorkType() const { return workType_; }
    void SetReceiving_back(bool echo) { receivingBack_ = echo; }
    bool GetReceiving_back() const { return receivingBack_; }
    // Answer time-out in ms; a running answer timer restarts with the new value. Below 1 counts as 1.
    void SetTimeOut(int ms);
    int GetTimeOut() const;
    // Delay in ms from a request (or a failure) to the sending of the frame. Below 1 counts as 1.
    void SetTimePackage(int ms);
    int GetTimePackage() const;
    void SetRepetition(bool repeat) { repetition_ = repeat; }
    bool GetRepetition() const { return repetition_; }

    // Retries since creation (or since last written); raised before every retry, never reset by a request.
    int GetRepetitionCounter() const { return repetitionCounter_; }
    void SetRepetitionCounter(int value) { repetitionCounter_ = value; }

    // --- Line control
    // Applies WorkType to the link. Returns false (and changes nothing) while the link is open or
    // when there is no link.
    bool Initialization();
    // Abandons the request: the send, answer and wake-up timers stop; a pending retry is cancelled, and a frame
    // waiting out its wake-up pause is not sent (a request made before the pause ends goes when it ends).
    void BreakTransmit();
    // Sends a modem command (a carriage return is appended), preceded by the wake-up byte after idle.
    // Errors of the link reach the caller.
    void ModemCommand(const std::string& text);
    // Sends a frame built by the caller (content and checksum are the caller's), answered by an
    // acknowledge. Throws EProtocolError for an empty frame.
    void Transmitpackage(unsigned char len, const void* frame);

    // --- Service requests. Each returns at once; the answer arrives as an event. Counts beyond
    // what a frame can carry throw EProtocolError before anything is changed.
    void GetDeviceID();
    void ReadRAM(unsigned short addr, unsigned char n);
    void WriteRAM(unsigned short addr, unsigned char n, const void* data);
    void ReadFlash(unsigned short addr, unsigned char n);
    void ReadFlashLarge(unsigned int addr, unsigned char n);
    void WriteFlash(unsigned short addr, unsigned char n, const void* data);
    void WriteFlashLarge(unsigned int addr, unsigned char n, const void* data);
    void SetPassword(unsigned int value);
    void IDCOMAND(unsigned int value);
    void SetTime(const SNextTime* time);
    void KeyPress(unsigned char key);
    void GetDisplayData();
    void ClearFlashF149();
    // Goes to the fixed address 0xCA, the count before the address.
    void WriteFlashF149(unsigned short addr, unsigned char n, const void* data);
    void GetCtrSUM(unsigned short value);
    // A device without modules gets no frame: OnReceiveModuleCounter(0) is raised inside the call.
    void GetModuleCounter(unsigned short code);

    // --- Device codes (no traffic); the high byte of the code selects.
    static bool Multic(unsigned short code);
    static bool IncludeDevices(unsigned short code);
    static const char* GetDeviceTypeStr(unsigned short code);
    static const char* GetDeviceConditionStr(unsigned short code);

    // --- Decoders of the link's packets. Never read past Size.
    void ReceivedData(unsigned char* Data, int Size);      // framed answer (reads)
    void ReceivedIDDevice(unsigned char* Data, int Size);  // identity answer
    void OnlyTransmit(unsigned char* Data, int Size);      // acknowledge (writes and sets)
    void ReciveMC(unsigned char* Data, int Size);          // module counter

    // --- Timer handlers
    void TPackage(TObject* Sender);   // send timer: sends the frame
    void TOut(TObject* Sender);       // answer timer: time-out
    void TNullByte(TObject* Sender);  // wake-up timer: idle detection
    void TWakeUpPause(TObject* Sender);  // pause timer: the frame after the wake-up byte

    // --- Trace and statistics. With no hook the trace costs a test of an empty function.
    // The hook is also handed to the link, which reports what it discards.
    void SetTraceHook(TraceHook hook);
    const SLineStatistics& GetStatistics() const { return stats_; }
    void ResetStatistics() { stats_ = SLineStatistics{}; }

    // --- Diagnostics
    int GetReceivePhase() const { return phase_; }
    bool GetWakeUpFlag() const { return wakeUp_; }

    // --- Events. Pointers passed to handlers are valid during the call only.
    TRepetitionEvent OnRepetition;            // before every retry, with the counter after raising it
    TNotifyEvent OnTimeOut;                   // time-out while Repetition is false
    TReceiveExecutedEvent OnReceiveExecuted;  // framed answer (L, payload) or acknowledge (1, byte)
    TReceivedIDDeviceEvent OnReceivedIDDevice;
    TNotifyEvent OnFalseCRC;                  // checksum of a framed or identity answer did not match
    TNotifyEvent OnModemConnect;              // wtModem: modem connection came up (Sender: this)
    TNotifyEvent OnModemDisconnect;           // wtModem: modem connection dropped (Sender: this)
    TModemCommandEvent OnModemCommand;        // wtModem: raw bytes, Buf 0-terminated after Size bytes
    TRepetitionEvent OnReceiveModuleCounter;  // the module count
    // The link refused to send (port closed, device gone). The request then behaves as if no
    // answer came, so time-out and retry follow as usual.
    TTransmitErrorEvent OnTransmitError;

    // The single slot for framed answers and acknowledges, for handlers that save and restore it.
    const TReceiveExecutedEvent& GetOnReceiveExecuted() const { return OnReceiveExecuted; }
    void SetOnReceiveExecuted(TReceiveExecutedEvent handler) { OnReceiveExecuted = std::move(handler); }
    // Installs handler and returns the one it replaced; moves only, so it never allocates.
    TReceiveExecutedEvent ExchangeOnReceiveExecuted(TReceiveExecutedEvent handler);

protected:
    // What answers a request: the first packet's length after the echo and its decoder.
    enum class TAnswerKind {
        Framed,         // head of 2 bytes, then L + 3 bytes; ReceivedData
        Acknowledge,    // 1 byte; OnlyTransmit
        Identity,       // 19 bytes; ReceivedIDDevice
        ModuleCounter,  // 6 bytes; ReciveMC
    };

    // Building blocks for descendants that add their own commands (codes of their own, same frame
    // rule). A request is either
    //   uint8_t* p = BeginRequest(code); ...write nparams parameter bytes at p...; FinishRequest(n, kind);
    // or SendRequest(code, params, n, kind). FinishRequest adds the master address and the checksum
    // and runs the common end of a request: lengths recorded, decoder installed on the link,
    // LengthPacket and receive phase set by Receiving_back, ReceiveType rtPacket, send timer started.
    // None of them allocates. nparams above 249 throws EProtocolError (nothing is sent).
    uint8_t* BeginRequest(uint8_t command) { return BeginRequestTo(slave_, command); }
    uint8_t* BeginRequestTo(uint8_t destination, uint8_t command);
    void FinishRequest(size_t nparams, TAnswerKind kind);
    void SendRequest(uint8_t command, const void* params, size_t nparams, TAnswerKind kind);
    // The common end of a request for a frame already in TransmitFrame(): answerLength is the length
    // of the first packet after the echo, decoder the packet decoder to install.
    void StartRequest(size_t frameLength, int answerLength, PacketDecoder decoder);
    uint8_t* TransmitFrame() { return tx_; }
    const uint8_t* ReceiveCopy() const { return rx_; }

    // The failure steps shared by the decoders, for descendants with decoders of their own.
    void ChecksumFailure();
    // Reports a packet that failed its address test.
    void DropPacket(const unsigned char* Data, int Size);
    void AnswerAccepted(const unsigned char* Data, size_t Size);
    void Trace(TraceKind kind, const void* data, size_t size, int value = 0) const
    {
        if (trace_) TraceOut(kind, data, size, value);
    }

private:
    void TraceOut(TraceKind kind, const void* data, size_t size, int value) const;
    // LengthPacket and phase for the start of an exchange: the echo first when the line returns it.
    void ResetReceive();
    void Dispatch(unsigned char* Data, int Size) { (this->*decoder_)(Data, Size); }
    void ForwardModemConnect(TObject*) { OnModemConnect(this); }
    void ForwardModemDisconnect(TObject*) { OnModemDisconnect(this); }
    void ForwardModemCommand(void* Buf, int Size) { OnModemCommand(Buf, Size); }
    // Restarts the idle detection; true when the wake-up byte went out and the pause is to follow.
    bool ApplyWakeUpRule();
    // Sends the frame and starts the answer timer; with wakeUpFirst the wake-up rule comes first, and after a
    // wake-up byte the frame waits for the pause timer.
    void SendFrame(bool wakeUpFirst);
    void ScheduleRetry();
    IDeviceLink& Link(const char* request) const;
    void DetachLink();

    Loop& loop_;
    IDeviceLink* link_ = nullptr;
    bool installedModemHandlers_ = false;

    uint8_t master_ = 0;
    uint8_t slave_ = 0;
    TWorkType workType_ = wtNet4800;
    bool receivingBack_ = false;
    bool repetition_ = true;
    int repetitionCounter_ = 0;

    std::unique_ptr<TTimer> answerTimer_;
    std::unique_ptr<TTimer> sendTimer_;
    std::unique_ptr<TTimer> wakeUpTimer_;
    std::unique_ptr<TTimer> pauseTimer_;  // the 100 ms after the wake-up byte

    uint8_t tx_[kBufferSize] = {};
    uint8_t rx_[kBufferSize] = {};
    uint8_t txLength_ = 0;
    uint8_t echoLength_ = 0;
    uint8_t answerLength_ = 0;
    int bodyLength_ = 0;  // L + 3 of the framed answer under way; L + 3 may exceed a byte
    int phase_ = 0;
    bool break_ = false;
    bool wakeUp_ = true;
    PacketDecoder decoder_ = &TRurIvaQs::OnlyTransmit;
    SIDDevice identity_;

    TraceHook trace_;
    SLineStatistics stats_;
    uint64_t sentAtMs_ = 0;
};

}  // namespace rv
