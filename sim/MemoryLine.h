// The in-memory line for virtual-time tests: a device link over the simulated meter. Every byte
// takes 10 bit times at the link's baud rate in both directions; the echo comes back while the
// request goes out, as on a two-wire line; the answer starts when the request's last byte is in.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/IDeviceLink.h"
#include "core/PacketCutter.h"
#include "core/TTimer.h"
#include "sim/SimMeter.h"

namespace rv::sim {

// Line time is kept in microseconds from the loop's zero; bytes that have arrived are handed over
// on a loop timer at millisecond resolution (a byte due at 18.75 ms is taken in at 19 ms, together
// with every other byte due by then), cut into packets exactly as the device link cuts them.
// Loop thread only. The line must not outlive the loop it was made with.
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
    // Both restart the packet count and throw away what has arrived but not been cut (reported to
    // the trace hook as Discarded); bytes still on the wire arrive later. Nothing is sent while closed.
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
    void SetCommNet(const std::string& name) override { portName_ = name; }
    std::string GetCommNet() override { return portName_; }
    // Closing loses every byte on the wire and everything received; the meter forgets a half request.
    // Opening fails (and stays closed) while a refusal text is set.
    void SetOpen(bool open) override;
    std::string GetOpenError() override { return openError_; }
    void SetDTR(bool value) override { dtr_ = open_ && value; }
    void SetRTS(bool value) override { rts_ = open_ && value; }
    bool GetDTR() override { return dtr_; }
    bool GetRTS() override { return rts_; }

    // Test controls.
    // A non-empty text makes every later open fail with it, as a port that is missing or busy.
    void SetRefuseOpen(const std::string& reason) { refuseOpen_ = reason; }
    void SetEcho(bool echo) { echo_ = echo; }
    bool GetEcho() const { return echo_; }
    // Bit rate used for pacing; follows SetBaudRate. 0 = bytes take no time (they arrive on the next
    // millisecond tick).
    uint32_t BitRate() const { return bitRate_; }
    void SetBitRate(uint32_t bitsPerSecond) { bitRate_ = bitsPerSecond; }
    // Meter turnaround between the last request byte and the first answer byte, in microseconds.
    void SetTurnaroundUs(uint32_t us) { turnaroundUs_ = us; }
    // Everything written by the PC, in order (wake-up bytes included), with the virtual time in ms of
    // the moment each write was handed to the line, and the line time of its first and last byte.
    struct Write {
        uint64_t timeMs;
        std::vector<uint8_t> bytes;
        uint64_t startUs = 0;  // the first byte starts going out
        uint64_t endUs = 0;    // the last byte is out (and its echo back)
    };
    const std::vector<Write>& Writes() const { return writes_; }
    // Every byte that reached the PC side: when it was complete on the wire, when it was taken in.
    struct Arrival {
        uint64_t dueUs;
        uint64_t takenMs;
        uint8_t byte;
        bool echo;  // one of the PC's own bytes
    };
    const std::vector<Arrival>& Arrivals() const;
    void ClearLog();
    // Time in microseconds by which the line is busy, for line-time bounds.
    uint64_t BusyUntilUs() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;

    bool open_ = true;
    bool dtr_ = false, rts_ = false;
    std::string portName_ = "COM2";
    std::string refuseOpen_, openError_;
    bool echo_ = true;
    bool irda_ = false;
    TBaudRate baud_ = br9600;
    uint32_t bitRate_ = 9600;
    uint32_t turnaroundUs_ = 0;
    TReceiveType receiveType_ = rtChar;
    bool receiveTypeSet_ = false;  // until the first SetReceiveType, received bytes stay queued
    int lengthPacket_ = 0;
    TPacketEvent onPacket_;
    TNotifyEvent onModemConnect_, onModemDisconnect_;
    TAllReceiveEvent onAll_;
    const TraceHook* trace_ = nullptr;
    std::vector<Write> writes_;
};

}  // namespace rv::sim
