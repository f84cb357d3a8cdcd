// Requests and decoders work in the component's fixed buffers: no heap allocation, so the hot path
// of a read chain never touches the allocator. Counts every operator new of this test program.
#include <vector>

#include <gtest/gtest.h>

#include "core/TTimer.h"
#include "core/VirtualLoop.h"
#include "fakes/CountingAllocator.h"
#include "fakes/FixedBufferLink.h"
#include "protocol/Frame.h"
#include "protocol/TRurIvaQs.h"

namespace rv {
namespace {

using test::Allocations;

TEST(NoAllocation, RequestsAndDecodersUseFixedBuffersOnly)
{
    VirtualLoop loop;
    test::FixedBufferLink link;
    TRurIvaQs engine(nullptr, &loop);
    engine.SetDeviceComm(&link);
    engine.SetReceiving_back(true);
    engine.SetMasterNetAddress(0xF0);
    engine.SetSlaveNetAddress(0xC9);
    long delivered = 0;
    engine.OnReceiveExecuted = [&delivered](short len, unsigned char*) { delivered += len; };

    // What arming one timer of the loop costs: the loop's schedule, not the engine's doing.
    TTimer probe(nullptr, &loop);
    long before = Allocations();
    probe.Start();
    const long perTimerStart = Allocations() - before;
    probe.Stop();

    uint8_t payload[250];
    for (int i = 0; i < 250; ++i) payload[i] = static_cast<uint8_t>(i);
    uint8_t answer[255];
    BuildAnswer(answer, 0xF0, payload, sizeof payload, 0);
    uint8_t echo[11] = {};

    for (int round = 0; round < 3; ++round) {
        before = Allocations();
        engine.ReadFlashLarge(0x100, 250);  // builds, installs the decoder, starts the send timer
        EXPECT_LE(Allocations() - before, perTimerStart) << "request";

        loop.RunFor(200);
        echo[0] = 0xC9;
        before = Allocations();
        link.Deliver(echo, sizeof echo);
        link.Deliver(answer, sizeof answer);  // head, body, checksum, event
        EXPECT_EQ(Allocations() - before, 0) << "decoding";
    }
    EXPECT_EQ(delivered, 3 * 250);
}

}  // namespace
}  // namespace rv
