// Feeds arbitrary bytes through the device link's receive side on the scripted platform: packets of
// any length (changed inside the handler too), typed values, raw blocks, counts that promise more
// than the driver holds, transmissions and clears in between. Every byte a handler is given is read,
// so a pointer or length that reaches past what arrived is found by the sanitizers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/VirtualLoop.h"
#include "fakes/FakeSerialPlatform.h"
#include "fuzz/FuzzInput.h"
#include "serial/TNewDevCom.h"
#include "serial/TXModem.h"

namespace {

using rv::fuzzing::g_sink;
using rv::fuzzing::Touch;

struct Rig {
    rv::VirtualLoop loop;
    rv::test::FakeSerialPlatform pl;
    rv::TNewDevCom link{nullptr, &loop, &pl};
    int nextLength = 0;
    bool transmitInHandler = false;

    Rig()
    {
        pl.AddPort("COM2");
        link.SetOpen(true);
        link.SetOnReceivePacket([this](unsigned char* d, int n) {
            Touch(d, static_cast<size_t>(n));
            if (nextLength) link.SetLengthPacket(nextLength);
            if (transmitInHandler) link.Transmit_Byte(0);
        });
        link.SetOnAllReceive([](void* b, int n) { Touch(b, static_cast<size_t>(n) + 1); });
        link.OnReceiveChar = [](char c) { g_sink = static_cast<unsigned>(c); };
        link.OnReceiveShort = [](short v) { g_sink = static_cast<unsigned>(v); };
        link.OnReceiveLong = [](int v) { g_sink = static_cast<unsigned>(v); };
        link.OnReceiveFloat = [](float v) { g_sink = static_cast<unsigned>(v == v); };
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Rig rig;
    rv::TNewDevCom& link = rig.link;
    {
        auto lk = rig.pl.Lock();
        rig.pl.Port("COM2").input.clear();
        rig.pl.Port("COM2").written.clear();
    }
    link.ClearBuf();
    link.SetLengthPacket(1);
    link.SetReceiveType(rv::rtPacket);
    rig.nextLength = 0;
    rig.transmitInHandler = false;

    size_t at = 0;
    auto byte = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
    while (at < size) {
        const uint8_t op = byte();
        switch (op % 8) {
            case 0:
            case 1: {  // bytes arrive, then the data event with the count queued
                const size_t n = std::min<size_t>(byte(), size - at);
                rig.pl.Feed("COM2", std::string(reinterpret_cast<const char*>(data + at), n));
                at += n;
                link.GetDevice().HandleEvents({rv::deChar});
                break;
            }
            case 2: {  // a data event that counts more than is queued
                const uint32_t n = byte();
                switch (link.GetReceiveType()) {
                    case rv::rtPacket:
                        link.ReceivePacket(nullptr, n);
                        break;
                    case rv::rtAll:
                        link.ReceiveAll(nullptr, n);
                        break;
                    case rv::rtShort:
                        link.ReceiveShort(nullptr, n);
                        break;
                    default:
                        link.ReceiveChar(nullptr, n);
                        break;
                }
                break;
            }
            case 3:
                link.SetLengthPacket(static_cast<int8_t>(byte()) * 9);
                break;
            case 4:
                link.SetReceiveType(static_cast<rv::TReceiveType>(byte() % 6));
                break;
            case 5:
                rig.nextLength = static_cast<int8_t>(byte()) * 5;
                rig.transmitInHandler = (op & 0x80) != 0;
                break;
            case 6: {
                const uint8_t frame[4] = {byte(), byte(), byte(), byte()};
                link.Transmit_Packed(frame, 4);
                break;
            }
            case 7:
                link.ClearBuf();
                break;
        }
    }
    return 0;
}
