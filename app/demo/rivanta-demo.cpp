// A demonstration against the built-in simulated meter, in simulated time: identify the meter and
// read its configuration record, printing every frame on the line.
#include <cstdio>
#include <string>

#include "core/VirtualLoop.h"
#include "protocol/TRurIvaQs.h"
#include "protocol/TraceFormat.h"
#include "sim/MemoryLine.h"
#include "sim/MeterDescription.h"
#include "sim/SimMeter.h"

int main()
{
    rv::VirtualLoop loop;
    rv::sim::SimMeter meter(rv::sim::DefaultMeter());
    rv::sim::MemoryLine line(meter, &loop);
    line.SetBaudRate(rv::br4800);
    rv::TRurIvaQs engine(nullptr, &loop);
    engine.SetDeviceComm(&line);
    engine.SetMasterNetAddress(0xF0);
    engine.SetSlaveNetAddress(0xC9);
    engine.SetReceiving_back(true);
    engine.SetTimeOut(1500);
    engine.SetTraceHook([](const rv::TraceRecord& r) { std::printf("%s\n", rv::FormatTraceRecord(r).c_str()); });

    unsigned char config[392] = {};
    int step = 0;
    bool done = false;
    engine.OnReceivedIDDevice = [&](const rv::SIDDevice* id) {
        std::printf("meter serial number %u, software version %u\n", id->SerialNumber, id->Version);
        engine.ReadFlash(0x100, 100);
    };
    engine.OnReceiveExecuted = [&](short length, unsigned char* data) {
        const int offsets[] = {0, 100, 200};
        const int wanted[] = {100, 100, 192};
        const int n = length < wanted[step] ? length : wanted[step];
        for (int i = 0; i < n; ++i) config[offsets[step] + i] = data[i];
        if (++step < 3) engine.ReadFlashLarge(0x100 + offsets[step], static_cast<unsigned char>(wanted[step]));
        else done = true;
    };
    engine.GetDeviceID();
    if (!loop.RunUntil([&] { return done; }, 60000)) {
        std::fprintf(stderr, "no answer from the simulated meter\n");
        return 1;
    }
    std::printf("configuration record read: 392 bytes in %.3f s of line time\n", loop.NowMs() / 1000.0);
    return 0;
}
