// The device link: the port name, speed and control lines as plain properties over one serial
// port with modem support, byte blocks sent (after an IrDA adapter set-up where one is fitted), and
// the received stream cut into packets, typed values or raw blocks for the protocol's handlers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Event.h"
#include "core/IDeviceLink.h"
#include "core/PacketCutter.h"
#include "core/TObject.h"

namespace rv {

class ISerialPlatform;
class Loop;
class TTimer;
class TXModem;

using TReceiveCharEvent = Event<void(char Data)>;
using TReceiveShortEvent = Event<void(short Data)>;
using TReceiveLongEvent = Event<void(int Repetition)>;
using TReceiveFloatEvent = Event<void(float Data)>;

// Threading: every operation, every timer and every receive handler runs on the loop thread. The
// driver hands each device event from its event thread over to the loop thread and waits until it
// has been handled, so the packet handlers never run beside Transmit or the protocol's timers.
// Open the port on the loop thread while the link's loop is the current loop.
class TNewDevCom : public TComponent, public IDeviceLink {
public:
    // The transmit timer runs on loop (the current loop when null); Platform null: the default
    // serial platform.
    explicit TNewDevCom(TComponent* Owner = nullptr, Loop* loop = nullptr, ISerialPlatform* Platform = nullptr);
    // Closes an open port; handlers still queued by the driver are not delivered.
    ~TNewDevCom() override;

    // ---- Published properties
    // The driver's DeviceName: COM1.., a name under /dev, or a path. Ignored while open.
    void SetCommNet(const std::string& name) override;
    std::string GetCommNet() override;
    void SetBaudRate(TBaudRate rate) override;
    TBaudRate GetBaudRate() override;
    void SetBaudValue(uint32_t value);  // used by the driver only with brCustom
    uint32_t GetBaudValue();
    // On a closed port the flag stays false and nothing reaches the driver; a refused toggle
    // leaves the flag at the opposite of the requested value.
    void SetDTR(bool value) override;
    bool GetDTR() override { return dtr_; }
    void SetRTS(bool value) override;
    bool GetRTS() override { return rts_; }
    // No error leaves SetOpen. A failed open leaves the port closed, DTR and RTS false, and
    // GetOpenError() telling the technician why ("устройство не найдено"; the caller names the port).
    void SetOpen(bool open) override;
    bool GetOpen() override;
    std::string GetOpenError() override { return openError_; }
    // True: the adapter is set up again before the next transmission.
    void SetIrda(bool value) override;
    bool GetIrda() const override { return irda_; }
    // Installs the matching data handler on the driver; rtPacket raises LengthPacket to 1.
    void SetReceiveType(TReceiveType type) override;
    TReceiveType GetReceiveType() const override { return receiveType_; }
    // Read afresh before every packet. The driver is asked to raise its data event only once the
    // bytes still missing from the packet are queued, so a packet costs one hand-over, not one per byte.
    int GetLengthPacket() const override { return lengthPacket_; }
    void SetLengthPacket(int length) override;

    TReceiveCharEvent OnReceiveChar;
    TReceiveShortEvent OnReceiveShort;
    TReceiveLongEvent OnReceiveLong;
    TReceiveFloatEvent OnReceiveFloat;
    TPacketEvent OnReceivePacket;
    TNotifyEvent OnModemConnect;     // raised with the driver as Sender
    TNotifyEvent OnModemDisconnect;  // raised with the driver as Sender
    TAllReceiveEvent OnAllReceive;

    void SetOnReceivePacket(const TPacketEvent& handler) override { OnReceivePacket = handler; }
    void SetOnModemConnect(const TNotifyEvent& handler) override { OnModemConnect = handler; }
    void SetOnModemDisconnect(const TNotifyEvent& handler) override { OnModemDisconnect = handler; }
    void SetOnAllReceive(const TAllReceiveEvent& handler) override { OnAllReceive = handler; }
    void SetTraceHook(const TraceHook* hook) override { trace_ = hook; }

    // ---- Sending. Each starts a new transmission: the packet count restarts and whatever was
    // received before and not yet delivered is thrown away (reported to the trace as Discarded).
    // A closed port raises the driver's EDeviceError to the caller, unless an IrDA set-up runs first.
    void Transmit_Packed(const void* data, unsigned char count) override;
    void Transmit_Byte(unsigned char value) override;
    void Transmit_Short(unsigned short value);  // little-endian
    void Transmit_Long(unsigned int value);     // little-endian
    void Transmit_Float(float value);           // its IEEE bits, little-endian
    // Sends the pending transmission, or starts the adapter set-up that sends it at its end.
    void Transmit();
    // Switches to raw receive and sends the text followed by a carriage return.
    void ModemCommand(const std::string& text) override;

    // ---- Receiving: the driver's data event handlers (Received = bytes queued in the driver). The
    // typed ones cut elements of their own size: 1, 2, 4 and 4 bytes.
    void ReceivePacket(TObject* Sender, uint32_t Received);
    void ReceiveChar(TObject* Sender, uint32_t Received);
    void ReceiveShort(TObject* Sender, uint32_t Received);
    void ReceiveLong(TObject* Sender, uint32_t Received);
    void ReceiveFloat(TObject* Sender, uint32_t Received);
    // Without an OnAllReceive handler the bytes stay queued in the driver. More than the buffer
    // holds goes out in several calls.
    void ReceiveAll(TObject* Sender, uint32_t Received);
    // Restarts the packet count and throws away up to 400 queued bytes, without waiting for more.
    void ClearBuf();

    // ---- State beyond the published properties
    TXModem& GetDevice() { return *comm_; }
    bool GetIrdaReady() const { return irdaReady_; }
    int GetIrdaStep() const { return irdaStep_; }
    // Why the last transmission was abandoned (an adapter set-up step kept failing, or the bytes
    // could not be sent at its end); empty when it was not. Cleared by the next transmission.
    const std::string& GetTransmitError() const { return transmitError_; }
    TNotifyEvent OnTransmitAbandoned;
    // The device vanished or failed while open (an adapter unplugged), or a receive handler raised
    // an error. The link has closed the port; GetDeviceLostReason() says so for the technician.
    // Cleared by the next successful open.
    bool GetDeviceLost() const { return deviceLost_; }
    const std::string& GetDeviceLostReason() const { return deviceLostReason_; }
    TNotifyEvent OnDeviceLost;

    // Tries of one adapter set-up step before the transmission is abandoned.
    static constexpr int kIrdaStepTries = 3;
    // The serial ports present on this machine, for a port list (a typed name works as well).
    static std::vector<std::string> ListPorts(ISerialPlatform* Platform = nullptr);

private:
    enum class TTimerHandler { Transmit, IrdaSetup };
    template <class DecodeFn>
    void ReceiveTyped(uint32_t Received, int size, DecodeFn&& decode);
    // Reads what is queued, up to n bytes, without waiting; a failing device is taken as lost.
    size_t ReadQueued(unsigned char* dst, size_t n);
    void Discard(bool wholeQueue, size_t limit);
    // Sets the driver's receive threshold to the bytes that complete the packet being cut (1 for
    // every other receive type); deferred while a packet is being cut.
    void UpdateThreshold();
    void TracePiece(TraceKind kind, const uint8_t* data, size_t size) const;
    void SetPending(const void* data, size_t count);
    void OnTimer(TObject* Sender);
    void IrdaSetup();
    void IrdaStep();
    void Abandon(const std::string& reason);
    // Closes the port and reports the device as gone; handlerError: what a receive handler raised.
    void LoseDevice(const std::string& handlerError = {});
    // Runs a receive handler; an error it raises loses the device.
    template <class Fn>
    void Delivering(Fn&& receive);
    void CloseQuietly();
    void SetLine(bool dtr, bool value);

    Loop& loop_;
    std::unique_ptr<TXModem> comm_;
    std::unique_ptr<TTimer> timer_;
    TTimerHandler timerHandler_ = TTimerHandler::Transmit;

    bool dtr_ = false;
    bool rts_ = false;
    bool irda_ = false;
    bool irdaReady_ = false;
    int irdaStep_ = 0;
    int irdaFailures_ = 0;
    TReceiveType receiveType_ = rtChar;
    int lengthPacket_ = 0;

    PacketCutter cutter_;
    bool cutting_ = false;
    unsigned char raw_[PacketCutter::kBufferSize] = {};
    unsigned char pending_[256] = {};
    unsigned pendingCount_ = 0;

    const TraceHook* trace_ = nullptr;
    std::string openError_;
    std::string transmitError_;
    bool deviceLost_ = false;
    std::string deviceLostReason_;
};

}  // namespace rv
