// What the protocol engine needs of its device link. The serial device link and the in-memory
// test line implement it.
#pragma once

#include <string>

#include "Event.h"
#include "LineTypes.h"
#include "Trace.h"

namespace rv {

// One complete packet of LengthPacket bytes; Size is that length. Data is valid during the call.
using TPacketEvent = Event<void(unsigned char* Data, int Size)>;
// Raw receive: Buf holds Size bytes followed by a 0 byte.
using TAllReceiveEvent = Event<void(void* Buf, int Size)>;

class IDeviceLink {
public:
    virtual ~IDeviceLink() = default;

    virtual bool GetOpen() = 0;
    virtual void SetBaudRate(TBaudRate rate) = 0;
    virtual TBaudRate GetBaudRate() = 0;
    virtual void SetIrda(bool value) = 0;
    virtual bool GetIrda() const = 0;

    // Writes one byte to the line at once.
    virtual void Transmit_Byte(unsigned char value) = 0;
    // Writes count bytes in order and restarts the packet count (a half-received packet is discarded).
    virtual void Transmit_Packed(const void* data, unsigned char count) = 0;
    // Sends the text followed by a carriage return.
    virtual void ModemCommand(const std::string& text) = 0;

    virtual void SetReceiveType(TReceiveType type) = 0;
    virtual TReceiveType GetReceiveType() const = 0;
    // A change made inside the packet handler applies at once to the bytes still queued.
    virtual int GetLengthPacket() const = 0;
    virtual void SetLengthPacket(int length) = 0;

    virtual void SetOnReceivePacket(const TPacketEvent& handler) = 0;
    virtual void SetOnModemConnect(const TNotifyEvent& handler) = 0;
    virtual void SetOnModemDisconnect(const TNotifyEvent& handler) = 0;
    virtual void SetOnAllReceive(const TAllReceiveEvent& handler) = 0;

    // The port, for the windows that connect and disconnect. A failed open is swallowed: GetOpen()
    // stays false and GetOpenError() tells why (empty when the last open succeeded). Links that
    // have no port (test lines) keep the defaults.
    virtual void SetCommNet(const std::string& name) { (void)name; }
    virtual std::string GetCommNet() { return {}; }
    virtual void SetOpen(bool open) { (void)open; }
    virtual std::string GetOpenError() { return {}; }
    // Control lines; on a closed port they stay false and nothing is sent.
    virtual void SetDTR(bool value) { (void)value; }
    virtual void SetRTS(bool value) { (void)value; }
    virtual bool GetDTR() { return false; }
    virtual bool GetRTS() { return false; }

    // Where the link reports what it throws away; null for none. The hook outlives the link's use of it.
    virtual void SetTraceHook(const TraceHook* hook) { (void)hook; }
};

}  // namespace rv
