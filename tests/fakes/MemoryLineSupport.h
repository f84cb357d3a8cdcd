// What the tests against the simulated meter on the in-memory line share: the engine set up as the main window
// sets its component, the request frames read back from the line, the meter's memory read back, and a line
// whose port can vanish under a window.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "protocol/Frame.h"
#include "protocol/TRurIvaQs.h"
#include "sim/MemoryLine.h"
#include "sim/MeterImage.h"

namespace rv::test {

using Bytes = std::vector<uint8_t>;

// Sets the engine up on the line as the main window sets its component (master 0xF0, slave 0xC9, echo, 1500 ms,
// package delay 1) and initialises it with the port closed, as a window does before it opens the port; the line
// is open afterwards. False when the engine would not initialise.
inline bool ConnectAsMainWindow(TRurIvaQs& engine, sim::MemoryLine& line)
{
    engine.SetDeviceComm(&line);
    engine.SetMasterNetAddress(0xF0);
    engine.SetSlaveNetAddress(0xC9);
    engine.SetReceiving_back(true);
    engine.SetTimeOut(1500);
    engine.SetTimePackage(1);
    line.SetOpen(false);
    const bool initialised = engine.Initialization();
    line.SetOpen(true);
    return initialised;
}

// A request frame the PC sent: its command and parameters, and when it went out.
struct SentRequest {
    uint8_t command;
    Bytes params;
    uint64_t timeMs;
    // The 32-bit flash address (or 16-bit RAM address) at the start of the parameters.
    uint32_t Address32() const { return GetU32(params.data()); }
    uint16_t Address16() const { return GetU16(params.data()); }
    // The count byte after an address of n bytes.
    uint8_t CountAfter(size_t n) const { return params.at(n); }
};

// Every request frame on the line since its last ClearLog (wake-up bytes left out), retries included; only those
// of one command when command is not negative.
inline std::vector<SentRequest> SentRequests(const sim::MemoryLine& line, int command = -1)
{
    std::vector<SentRequest> out;
    for (const auto& w : line.Writes()) {
        if (w.bytes.size() < 5) continue;
        const size_t L = w.bytes[1];
        if (command >= 0 && w.bytes[2] != command) continue;
        out.push_back(
            {w.bytes[2], Bytes(w.bytes.begin() + 3, w.bytes.begin() + 3 + static_cast<long>(L) - 1), w.timeMs});
    }
    return out;
}

inline Bytes FlashBytes(const sim::MeterImage& image, uint64_t addr, size_t n)
{
    Bytes out(n);
    image.flash.Read(addr, out.data(), n);
    return out;
}
inline Bytes RamBytes(const sim::MeterImage& image, uint64_t addr, size_t n)
{
    Bytes out(n);
    image.ram.Read(addr, out.data(), n);
    return out;
}

// A line whose port can vanish under the window, as an unplugged adapter: closed, it refuses every frame.
class VanishingLine : public sim::MemoryLine {
public:
    using MemoryLine::MemoryLine;
    void Transmit_Byte(unsigned char value) override
    {
        if (!GetOpen()) throw std::runtime_error("устройство отключено");
        MemoryLine::Transmit_Byte(value);
    }
    void Transmit_Packed(const void* data, unsigned char count) override
    {
        if (!GetOpen()) throw std::runtime_error("устройство отключено");
        MemoryLine::Transmit_Packed(data, count);
    }
};

}  // namespace rv::test
