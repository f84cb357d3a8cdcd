// A scripted device link for protocol tests: records every write with its loop time and delivers
// bytes the test hands it through the same packet cutting as the device link. Optionally echoes
// each frame and answers it through a responder, one loop step after the frame went out.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/IDeviceLink.h"
#include "core/Loop.h"
#include "core/PacketCutter.h"

namespace rv::test {

class ScriptedLink : public IDeviceLink {
public:
    struct Write {
        uint64_t timeMs;
        std::vector<uint8_t> bytes;
        bool single;  // Transmit_Byte rather than Transmit_Packed
    };
    // Given each frame, returns the bytes the device sends back (after the echo, if any).
    using Responder = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& frame)>;

    explicit ScriptedLink(Loop* loop = nullptr) : loop_(loop ? *loop : Loop::Current()) {}

    // IDeviceLink
    bool GetOpen() override { return open; }
    void SetBaudRate(TBaudRate rate) override { baud = rate; }
    TBaudRate GetBaudRate() override { return baud; }
    void SetIrda(bool value) override { irda = value; }
    bool GetIrda() const override { return irda; }
    void Transmit_Byte(unsigned char value) override
    {
        if (failSends) throw std::runtime_error("порт закрыт");
        cutter_.Reset();
        writes.push_back({loop_.NowMs(), {value}, true});
    }
    void Transmit_Packed(const void* data, unsigned char count) override
    {
        if (failSends) throw std::runtime_error("порт закрыт");
        cutter_.Reset();
        const auto* p = static_cast<const uint8_t*>(data);
        writes.push_back({loop_.NowMs(), std::vector<uint8_t>(p, p + count), false});
        if (!echo && !responder) return;
        std::vector<uint8_t> back;
        if (echo) back.assign(p, p + count);
        if (responder) {
            const std::vector<uint8_t> answer = responder(writes.back().bytes);
            back.insert(back.end(), answer.begin(), answer.end());
        }
        if (!back.empty()) loop_.Post([this, back] { Deliver(back); });
    }
    void ModemCommand(const std::string& text) override { modemCommands.push_back(text); }
    void SetReceiveType(TReceiveType type) override
    {
        receiveType = type;
        if (type == rtPacket && lengthPacket < 1) lengthPacket = 1;
    }
    TReceiveType GetReceiveType() const override { return receiveType; }
    int GetLengthPacket() const override { return lengthPacket; }
    void SetLengthPacket(int length) override { lengthPacket = length; }
    void SetOnReceivePacket(const TPacketEvent& handler) override { onPacket = handler; }
    void SetOnModemConnect(const TNotifyEvent& handler) override { onModemConnect = handler; }
    void SetOnModemDisconnect(const TNotifyEvent& handler) override { onModemDisconnect = handler; }
    void SetOnAllReceive(const TAllReceiveEvent& handler) override { onAll = handler; }
    void SetTraceHook(const TraceHook* hook) override { trace = hook; }

    // Delivers bytes as one data event of the driver; chunk > 0 splits them into events of that size.
    void Deliver(const std::vector<uint8_t>& bytes, size_t chunk = 0)
    {
        if (chunk == 0) chunk = bytes.size();
        for (size_t at = 0; at < bytes.size(); at += chunk) {
            const size_t n = std::min(chunk, bytes.size() - at);
            DeliverEvent(bytes.data() + at, n);
        }
    }
    void Deliver(std::initializer_list<uint8_t> bytes) { Deliver(std::vector<uint8_t>(bytes)); }

    // One data event of n bytes, cut into packets as the device link does (or raw for rtAll).
    void DeliverEvent(const uint8_t* data, size_t n)
    {
        if (receiveType == rtAll) {
            std::vector<uint8_t> raw(data, data + n);
            raw.push_back(0);
            onAll(raw.data(), static_cast<int>(n));
            return;
        }
        queue_.insert(queue_.end(), data, data + n);
        cutter_.Feed(
            n, [this] { return lengthPacket; }, [this](unsigned char* buf, int len) { onPacket(buf, len); },
            [this](unsigned char* dst, size_t want) {
                const size_t got = std::min(want, queue_.size());
                for (size_t i = 0; i < got; ++i) {
                    dst[i] = queue_.front();
                    queue_.pop_front();
                }
                return got;
            });
    }

    // The frames (Transmit_Packed writes) only.
    std::vector<std::vector<uint8_t>> Frames() const
    {
        std::vector<std::vector<uint8_t>> out;
        for (const Write& w : writes)
            if (!w.single) out.push_back(w.bytes);
        return out;
    }
    size_t FrameCount() const { return Frames().size(); }

    bool open = false;
    bool echo = false;
    bool irda = false;
    bool failSends = false;
    TBaudRate baud = br9600;
    TReceiveType receiveType = rtChar;
    int lengthPacket = 0;
    Responder responder;
    std::vector<Write> writes;
    std::vector<std::string> modemCommands;
    TPacketEvent onPacket;
    TNotifyEvent onModemConnect, onModemDisconnect;
    TAllReceiveEvent onAll;
    const TraceHook* trace = nullptr;

private:
    Loop& loop_;
    PacketCutter cutter_;
    std::deque<uint8_t> queue_;
};

}  // namespace rv::test
