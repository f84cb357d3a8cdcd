// The protocol's own cost per request, to show that the line is the only limit: building a frame,
// the checksum, and taking a 250-byte framed answer through the packet cutting and the decoder.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "core/VirtualLoop.h"
#include "fakes/ScriptedLink.h"
#include "protocol/Frame.h"
#include "protocol/TRurIvaQs.h"

namespace {

void BM_BuildRequest(benchmark::State& state)
{
    uint8_t frame[260];
    const uint8_t params[5] = {0x00, 0x01, 0x00, 0x00, 250};
    for (auto _ : state) {
        benchmark::DoNotOptimize(rv::BuildRequest(frame, 0xC9, 0x31, params, sizeof params, 0xF0));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildRequest);

void BM_Checksum255(benchmark::State& state)
{
    std::vector<uint8_t> bytes(255);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13);
    for (auto _ : state) benchmark::DoNotOptimize(rv::CRC(bytes.data(), 255));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 255);
}
BENCHMARK(BM_Checksum255);

// One ReadFlashLarge request (frame built, decoder installed, send timer started) and its answer:
// the 11-byte echo and the 255-byte framed answer, cut and decoded, the payload delivered.
void BM_Request250ByteRead(benchmark::State& state)
{
    rv::VirtualLoop loop;
    rv::test::ScriptedLink link(&loop);
    rv::TRurIvaQs engine(nullptr, &loop);
    engine.SetDeviceComm(&link);
    engine.SetMasterNetAddress(0xF0);
    engine.SetSlaveNetAddress(0xC9);
    engine.SetReceiving_back(true);
    int64_t delivered = 0;
    engine.OnReceiveExecuted = [&delivered](short len, unsigned char*) { delivered += len; };

    std::vector<uint8_t> payload(250);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> line(11 + 255);
    rv::BuildRequest(line.data(), 0xC9, 0x31, "\x00\x01\x00\x00\xFA", 5, 0xF0);
    rv::BuildAnswer(line.data() + 11, 0xF0, payload.data(), payload.size(), 0);
    for (auto _ : state) {
        engine.ReadFlashLarge(0x100, 250);
        link.DeliverEvent(line.data(), line.size());
    }
    state.SetBytesProcessed(delivered);
}
BENCHMARK(BM_Request250ByteRead);

}  // namespace

BENCHMARK_MAIN();
