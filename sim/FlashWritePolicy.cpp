// Flash writes under the image's policy: the old contents stay whenever the write is not applied.
#include "sim/FlashWritePolicy.h"

#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace rv::sim {

namespace {

// Address (addrBytes), count, then count bytes of data.
bool WellFormed(const Request& r, size_t addrBytes)
{
    return r.paramCount >= addrBytes + 1 && r.paramCount == addrBytes + 1 + r.params[addrBytes];
}

SimMeter::CommandHandler Policed(SimMeter::CommandHandler apply, size_t addrBytes)
{
    return [apply, addrBytes](SimMeter& m, const Request& r) {
        if (!apply) return Answer::Silent();
        if (!WellFormed(r, addrBytes)) return apply(m, r);
        switch (m.Image().flashWrites) {
        case FlashWrites::Apply: return apply(m, r);
        case FlashWrites::Refuse: return Answer::Ack(kAckRefused);
        case FlashWrites::Ignore: return Answer::Ack(kAckOk);
        case FlashWrites::InCorrectionMode:
            return m.Image().CorrectionMode() ? apply(m, r) : Answer::Ack(kAckRefused);
        }
        return Answer::Ack(kAckRefused);
    };
}

}  // namespace

void InstallFlashWritePolicy(SimMeter& meter)
{
    meter.SetCommandHandler(cmd::kWriteFlash, Policed(meter.CommandHandlerFor(cmd::kWriteFlash), 2));
    meter.SetCommandHandler(cmd::kWriteFlashLarge, Policed(meter.CommandHandlerFor(cmd::kWriteFlashLarge), 4));
}

}  // namespace rv::sim
