// The meter command set against the simulated meter on the in-memory line, in virtual time, set up
// as the application's main window sets its component (master 0xF0, slave 0xC9, echo, 1500 ms).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "core/VirtualLoop.h"
#include "fakes/MemoryLineSupport.h"
#include "meter/TRurIvaQs_6x6.h"
#include "sim/MemoryLine.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace rv::test {

// The window's own answer handler; a type of its own so a test can see whether it holds the slot.
struct CallerHandler {
    std::vector<Bytes>* calls;
    void operator()(short Length, unsigned char* Buffer) const { calls->emplace_back(Buffer, Buffer + Length); }
};

class MeterRig {
public:
    explicit MeterRig(const sim::MeterDescription& d = sim::DefaultDescription(), sim::FaultPlan faults = {})
        : image(sim::BuildMeter(d)), meter(image, faults), line(meter, &loop), net(nullptr, &loop)
    {
        EXPECT_TRUE(ConnectAsMainWindow(net, line));
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
    std::vector<SentRequest> Requests() const { return SentRequests(line); }
    std::vector<SentRequest> Requests(uint8_t command) const { return SentRequests(line, command); }
    Bytes LastFrame() const
    {
        for (auto it = line.Writes().rbegin(); it != line.Writes().rend(); ++it)
            if (it->bytes.size() > 1) return it->bytes;
        return {};
    }

    Bytes Flash(uint64_t addr, size_t n) const { return FlashBytes(*image, addr, n); }
    Bytes Ram(uint64_t addr, size_t n) const { return RamBytes(*image, addr, n); }

    VirtualLoop loop;
    std::shared_ptr<sim::MeterImage> image;
    sim::SimMeter meter;
    sim::MemoryLine line;
    TRurIvaQs_6x6 net;
    std::vector<Bytes> callerCalls;
};

}  // namespace rv::test
