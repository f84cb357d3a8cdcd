// A device link that keeps nothing but what the engine sets, in fixed buffers, so that any allocation a test sees
// is the engine's: the settings are no-ops but for the packet length and handler, and delivered bytes are cut
// into packets as the device link cuts them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/IDeviceLink.h"
#include "core/PacketCutter.h"

namespace rv::test {

class FixedBufferLink : public IDeviceLink {
public:
    bool GetOpen() override { return false; }
    void SetBaudRate(TBaudRate) override {}
    TBaudRate GetBaudRate() override { return br4800; }
    void SetIrda(bool) override {}
    bool GetIrda() const override { return false; }
    void Transmit_Byte(unsigned char) override { cutter.Reset(); }
    void Transmit_Packed(const void*, unsigned char) override { cutter.Reset(); }
    void ModemCommand(const std::string&) override {}
    void SetReceiveType(TReceiveType) override {}
    TReceiveType GetReceiveType() const override { return rtPacket; }
    int GetLengthPacket() const override { return length; }
    void SetLengthPacket(int l) override { length = l; }
    void SetOnReceivePacket(const TPacketEvent& h) override { onPacket = h; }
    void SetOnModemConnect(const TNotifyEvent&) override {}
    void SetOnModemDisconnect(const TNotifyEvent&) override {}
    void SetOnAllReceive(const TAllReceiveEvent&) override {}

    // One data event of n bytes.
    void Deliver(const uint8_t* data, size_t n)
    {
        size_t at = 0;
        cutter.Feed(
            n, [this] { return length; }, [this](unsigned char* b, int len) { onPacket(b, len); },
            [&](unsigned char* dst, size_t want) {
                for (size_t i = 0; i < want; ++i) dst[i] = data[at++];
                return want;
            });
    }

    PacketCutter cutter;
    TPacketEvent onPacket;
    int length = 0;
};

}  // namespace rv::test
