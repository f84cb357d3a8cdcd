// Shared set-up of the engine tests: a virtual loop, a scripted link and an engine with the
// addresses the application uses (master 0xF0, slave 0xC9).
#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "core/VirtualLoop.h"
#include "fakes/ScriptedLink.h"
#include "protocol/Frame.h"
#include "protocol/TRurIvaQs.h"

namespace rv::test {

inline constexpr uint8_t kMaster = 0xF0;
inline constexpr uint8_t kSlave = 0xC9;

// A framed answer to the master carrying payload, with a correct checksum.
inline std::vector<uint8_t> FramedAnswer(const std::vector<uint8_t>& payload, uint8_t filler = 0x00,
                                         uint8_t master = kMaster)
{
    std::vector<uint8_t> out(payload.size() + 5);
    out.resize(BuildAnswer(out.data(), master, payload.data(), payload.size(), filler));
    return out;
}

class EngineTest : public ::testing::Test {
protected:
    EngineTest() : link(&loop), engine(nullptr, &loop)
    {
        engine.SetDeviceComm(&link);
        engine.SetMasterNetAddress(kMaster);
        engine.SetSlaveNetAddress(kSlave);
    }

    // Runs until the frame of the current request has gone out.
    void Send() { loop.RunFor(engine.GetTimePackage() + 100); }

    VirtualLoop loop;
    ScriptedLink link;
    TRurIvaQs engine;
};

}  // namespace rv::test
