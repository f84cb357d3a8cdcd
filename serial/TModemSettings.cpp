// The modem's call settings and the line speeds a modem can be asked for.
#include "TModemSettings.h"

#include <algorithm>
#include <iterator>

namespace rv {

namespace {
constexpr int32_t kSpeeds[] = {0,     2400,  4800,  7200,  9600,  12000, 14400, 16800, 19200,
                               21600, 24000, 26400, 28800, 31200, 33600, 56000, 57600};
}

bool TModemSettings::IsModemSpeed(int32_t Value)
{
    return std::find(std::begin(kSpeeds), std::end(kSpeeds), Value) != std::end(kSpeeds);
}

void TModemSettings::SetSpeed(int32_t Value)
{
    if (IsModemSpeed(Value)) speed_ = Value;
}

void TModemSettings::Assign(const TPersistent& Source)
{
    const auto* src = dynamic_cast<const TModemSettings*>(&Source);
    if (!src) AssignError(Source);
    if (src == this) return;
    dialType_ = src->dialType_;
    dialNumber_ = src->dialNumber_;
    connectType_ = src->connectType_;
    initString_ = src->initString_;
    resetString_ = src->resetString_;
    speed_ = src->speed_;
    waitRings_ = src->waitRings_;
}

}  // namespace rv
