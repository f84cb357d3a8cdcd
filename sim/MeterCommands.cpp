// Handlers of the meter's own commands: measurement control, the pressure data, the layout-2
// archive read and its test command.
#include "sim/MeterCommands.h"

#include "protocol/Frame.h"
#include "sim/MeterImage.h"
#include "sim/ServiceCommands.h"
#include "sim/SimMeter.h"

namespace rv::sim {

namespace {

// A command of fixed parameter count answered by an acknowledge once act has noted it.
template <class Act>
SimMeter::CommandHandler Acknowledged(size_t params, Act act)
{
    return [params, act](SimMeter& m, const Request& r) {
        if (r.paramCount != params) return Answer::Silent();
        act(m.Image().meterCommands, r.params);
        return Answer::Ack(kAckOk);
    };
}

Answer ReadArchive(const MeterImage& img, const Request& r)
{
    if (r.paramCount != 6) return Answer::Silent();
    const uint32_t addr = GetU32(r.params);
    const size_t bytes = r.params[4];
    const uint32_t width = r.params[5];
    if (width == 0 || bytes > kMaxAnswerPayload) return Answer::Silent();
    const uint32_t stride = img.RecordSizeAt(addr, width);
    std::vector<uint8_t> out;
    out.reserve(bytes);
    for (size_t i = 0; i < bytes / width; ++i) {
        const std::vector<uint8_t> value = ReadPadded(img.flash, addr + uint64_t{stride} * i, width);
        out.insert(out.end(), value.begin(), value.end());
    }
    return Answer::Framed(std::move(out));
}

}  // namespace

void InstallMeterCommands(SimMeter& meter)
{
    meter.SetCommandHandler(cmd::kSaveData, Acknowledged(1, [](MeterCommandState& s, const uint8_t* p) {
                                ++s.saves;
                                s.lastSaveChannel = p[0];
                            }));
    meter.SetCommandHandler(cmd::kAnalogStart, Acknowledged(1, [](MeterCommandState& s, const uint8_t* p) {
                                s.analogueRunning = true;
                                s.analogueChannel = p[0];
                            }));
    meter.SetCommandHandler(cmd::kAnalogEnd,
                            Acknowledged(0, [](MeterCommandState& s, const uint8_t*) { s.analogueRunning = false; }));
    meter.SetCommandHandler(cmd::kStartFlowCalculation, Acknowledged(1, [](MeterCommandState& s, const uint8_t* p) {
                                ++s.flowCalculations;
                                s.flowChannelMask = p[0];
                            }));
    meter.SetCommandHandler(cmd::kStartTermCalculation,
                            Acknowledged(0, [](MeterCommandState& s, const uint8_t*) { ++s.termCalculations; }));
    meter.SetCommandHandler(cmd::kAnalogRead, [](SimMeter& m, const Request& r) {
        if (r.paramCount != 3) return Answer::Silent();
        return Answer::Framed({r.params[0], r.params[1], r.params[2], m.Image().meterCommands.analogueChannel});
    });
    meter.SetCommandHandler(cmd::kPressData, [](SimMeter& m, const Request& r) {
        if (r.paramCount != 0) return Answer::Silent();
        std::vector<uint8_t> data = m.Image().pressData;
        if (data.size() > kMaxAnswerPayload) data.resize(kMaxAnswerPayload);
        return Answer::Framed(std::move(data));
    });
    meter.SetCommandHandler(cmd::kReadArchive, [](SimMeter& m, const Request& r) { return ReadArchive(m.Image(), r); });
    meter.SetCommandHandler(cmd::kTestArchive, [](SimMeter&, const Request& r) {
        if (r.paramCount != 7) return Answer::Silent();
        return Answer::Framed({r.params, r.params + 7});
    });
}

}  // namespace rv::sim
