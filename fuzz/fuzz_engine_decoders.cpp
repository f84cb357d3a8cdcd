// Feeds arbitrary byte streams, cut at points taken from the input, through the packet cutting of a
// test line into the engine's decoders, across the request kinds, with and without echo, with
// time-outs, retries and breaks in between. Every byte a handler is given is read, so a pointer or
// length that reaches past what arrived is found by the sanitizers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/VirtualLoop.h"
#include "fakes/ScriptedLink.h"
#include "fuzz/FuzzInput.h"
#include "protocol/TRurIvaQs.h"

namespace {

using rv::fuzzing::Input;
using rv::fuzzing::Touch;

void Issue(rv::TRurIvaQs& e, unsigned kind, uint8_t n)
{
    static const uint8_t kData[246] = {};
    switch (kind % 8) {
        case 0:
            e.ReadFlash(0x100, static_cast<unsigned char>(n % 251));
            break;
        case 1:
            e.ReadFlashLarge(0x2A00, static_cast<unsigned char>(n % 251));
            break;
        case 2:
            e.GetDeviceID();
            break;
        case 3:
            e.WriteRAM(0x10, static_cast<unsigned char>(n % 247), kData);
            break;
        case 4:
            e.GetModuleCounter(0x1000);
            break;
        case 5:
            e.GetDisplayData();
            break;
        case 6:
            e.WriteFlashF149(0x20, static_cast<unsigned char>(n % 247), kData);
            break;
        case 7:
            e.ReadRAM(0x200, static_cast<unsigned char>(n % 251));
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    rv::VirtualLoop loop;
    rv::test::ScriptedLink link(&loop);
    rv::TRurIvaQs engine(nullptr, &loop);
    engine.SetDeviceComm(&link);
    engine.SetMasterNetAddress(0xF0);
    engine.SetSlaveNetAddress(0xC9);

    const uint8_t setup = in.Byte();
    engine.SetReceiving_back(setup & 0x08);
    engine.SetRepetition(setup & 0x10);
    if (!(setup & 0x20)) {
        engine.OnReceiveExecuted = [](short len, unsigned char* buf) {
            if (len < 0 || len > 255) std::abort();
            Touch(buf, static_cast<size_t>(len));
        };
    }
    if (!(setup & 0x40)) engine.OnReceivedIDDevice = [](const rv::SIDDevice* d) { Touch(d, sizeof *d); };
    engine.OnReceiveModuleCounter = [](int n) {
        if (n < -128 || n > 127) std::abort();
    };
    // Chain requests from the answers now and then, as the windows do.
    engine.OnFalseCRC = [&](rv::TObject*) {
        if (setup & 0x80) Issue(engine, setup, 7);
    };
    Issue(engine, setup, in.Byte());
    loop.RunFor(150);

    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        if (op < 192) {
            // One data event of 1..64 bytes from the stream.
            const std::vector<uint8_t> bytes = in.Take(static_cast<size_t>(op % 64) + 1);
            link.Deliver(bytes);
        } else if (op < 224) {
            loop.RunFor(static_cast<uint64_t>(op & 31) * 100);
        } else if (op < 240) {
            Issue(engine, op, in.Byte());
            loop.RunFor(150);
        } else if (op < 248) {
            engine.BreakTransmit();
        } else {
            engine.SetReceiving_back(!engine.GetReceiving_back());
        }
    }
    return 0;
}
