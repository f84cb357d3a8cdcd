// The meter command set against the simulated meter on the in-memory line, in virtual time, set up
// as the application's main window sets its component (master 0xF0, slave 0xC9, echo, 1500 ms).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "core/VirtualLoop.h"
#include "meter/TRurIvaQs_6x6.h"
#include "protocol/Frame.h"
#include "sim/MemoryLine.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace rv::test {

using Bytes = std::vector<uint8_t>;

// The window's own answer handler; a type of its own so a test can see whether it holds the slot.
struct CallerHandler {
    std::vector<Bytes>* calls;
    void operator()(short Length, unsigned char* Buffer) const { calls->emplace_back(Buffer, Buffer + Length); }
};

// A request frame the PC sent: its command and parameters.
struct SentRequest {
    uint8_t command;
    Bytes params;
    // The 32-bit flash address (or 16-bit RAM address) at the start of the parameters.
    uint32_t Address32() const { return GetU32(params.data()); }
    uint16_t Address16() const { return GetU16(params.data()); }
    // The count byte after an address of n bytes.
    uint8_t CountAfter(size_t n) const { return params.at(n); }
};

class MeterRig {
public:
    explicit MeterRig(const sim::MeterDescription& d = sim::DefaultDescription(), sim::FaultPlan faults = {})
        : image(sim::BuildMeter(d)), meter(image, faults), line(meter, &loop), net(nullptr, &loop)
    {
        net.SetDeviceComm(&line);
        net.SetMasterNetAddress(0xF0);
        net.SetSlaveNetAddress(0xC9);
        net.SetReceiving_back(true);
        net.SetTimeOut(1500);
        net.SetTimePackage(1);
        line.SetOpen(false);
        EXPECT_TRUE(net.Initialization());
        line.SetOpen(true);
        net.OnReceiveExecuted = CallerHandler{&callerCalls};
    }

    bool CallerHoldsSlot() const { return net.OnReceiveExecuted.Target<CallerHandler>() != nullptr; }

    // Runs until done() holds (at most limitMs of virtual time).
    bool Run(const std::function<bool()>& done, uint64_t limitMs = 60'000) { return loop.RunUntil(done, limitMs); }
    // Runs until the decoding request under way has put the caller's handler back.
    bool RunToEnd(uint64_t limitMs = 60'000)
    {
        return loop.RunUntil([this] { return !net.GetDecoding(); }, limitMs);
    }

    // Every request frame sent since the last ClearLog (wake-up bytes left out), retries included.
    std::vector<SentRequest> Requests() const
    {
        std::vector<SentRequest> out;
        for (const auto& w : line.Writes()) {
            if (w.bytes.size() < 5) continue;
            const size_t L = w.bytes[1];
            out.push_back({w.bytes[2], Bytes(w.bytes.begin() + 3, w.bytes.begin() + 3 + static_cast<long>(L) - 1)});
        }
        return out;
    }
    std::vector<SentRequest> Requests(uint8_t command) const
    {
        std::vector<SentRequest> out;
        for (const SentRequest& r : Requests())
            if (r.command == command) out.push_back(r);
        return out;
    }
    Bytes LastFrame() const
    {
        for (auto it = line.Writes().rbegin(); it != line.Writes().rend(); ++it)
            if (it->bytes.size() > 1) return it->bytes;
        return {};
    }

    Bytes Flash(uint64_t addr, size_t n) const
    {
        Bytes out(n);
        image->flash.Read(addr, out.data(), n);
        return out;
    }
    Bytes Ram(uint64_t addr, size_t n) const
    {
        Bytes out(n);
        image->ram.Read(addr, out.data(), n);
        return out;
    }

    VirtualLoop loop;
    std::shared_ptr<sim::MeterImage> image;
    sim::SimMeter meter;
    sim::MemoryLine line;
    TRurIvaQs_6x6 net;
    std::vector<Bytes> callerCalls;
};

}  // namespace rv::test
