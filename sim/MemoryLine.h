// The in-memory line for virtual-time tests: a device link over the simulated meter. Every byte
// takes 10 bit times at the link's baud rate in both directions; the echo comes back while the
// request goes out, as on a two-wire line; the answer starts when the request's last byte is in.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "core/IDeviceLink.h"
#include "core/PacketCutter.h"
#include "core/TTimer.h"
#include "sim/SimMeter.h"

namespace rv::sim {

class MemoryLine : public IDeviceLink {
public:
    MemoryLine(SimMeter& meter, Loop* loop = nullptr);
    ~MemoryLine() override;

    // IDeviceLink
    bool GetOpen() override { return open_; }
    void SetBaudRate(TBaudRate rate) override;
    TBaudRate GetBaudRate() override { return baud_; }
    void SetIrda(bool value) override { irda_ = value; }
    bool GetIrda() const override { return irda_; }
    void Transmit_Byte(unsigned char value) override;
    void Transmit_Packed(const void* data, unsigned char count) override;
    void ModemCommand(const std::string& text) override;
    void SetReceiveType(TReceiveType type) override;
    TReceiveType GetReceiveType() const override { return receiveType_; }
    int GetLengthPacket() const override { return lengthPacket_; }
    void SetLengthPacket(int length) override { lengthPacket_ = length; }
    void SetOnReceivePacket(const TPacketEvent& handler) override { onPacket_ = handler; }
    void SetOnModemConnect(const TNotifyEvent& handler) override { onModemConnect_ = handler; }
    void SetOnModemDisconnect(const TNotifyEvent& handler) override { onModemDisconnect_ = handler; }
    void SetOnAllReceive(const TAllReceiveEvent& handler) override { onAll_ = handler; }
    void SetTraceHook(const TraceHook* hook) override { trace_ = hook; }

    // Test controls.
    void SetOpen(bool open) { open_ = open; }
    void SetEcho(bool echo) { echo_ = echo; }
    // Bit rate used for pacing; follows SetBaudRate. 0 = bytes take no time.
    uint32_t BitRate() const { return bitRate_; }
    // Meter turnaround between the last request byte and the first answer byte, in microseconds.
    void SetTurnaroundUs(uint32_t us) { turnaroundUs_ = us; }
    // Everything written by the PC, in order (wake-up bytes included), with the virtual time in ms of
    // the moment each write was handed to the line.
    struct Write {
        uint64_t timeMs;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Write>& Writes() const { return writes_; }
    // Time in microseconds by which the line is busy, for line-time bounds.
    uint64_t BusyUntilUs() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;

    bool open_ = true;
    bool echo_ = true;
    bool irda_ = false;
    TBaudRate baud_ = br9600;
    uint32_t bitRate_ = 9600;
    uint32_t turnaroundUs_ = 0;
    TReceiveType receiveType_ = rtChar;
    int lengthPacket_ = 0;
    TPacketEvent onPacket_;
    TNotifyEvent onModemConnect_, onModemDisconnect_;
    TAllReceiveEvent onAll_;
    const TraceHook* trace_ = nullptr;
    std::vector<Write> writes_;
};

}  // namespace rv::sim
