// Measurement control: the frame commands that start, stop or store a measurement or read analogue
// values, and the clearing of the check and edit counters.
#include "TRurIvaQs_6x6.h"

#include "protocol/Frame.h"

namespace rv {

namespace {

constexpr uint8_t kSaveData = 0x80;
constexpr uint8_t kAnalogStart = 0x81;
constexpr uint8_t kAnalogRead = 0x82;
constexpr uint8_t kAnalogEnd = 0x83;
constexpr uint8_t kStartFlowCalculation = 0x84;
constexpr uint8_t kStartTermCalculation = 0x85;

constexpr unsigned char kCheckEditCountersSize = 28;

}  // namespace

void TRurIvaQs_6x6::SaveData(unsigned char channel)
{
    SendRequest(kSaveData, &channel, 1, TAnswerKind::Acknowledge);
}

void TRurIvaQs_6x6::AnalogStart(unsigned char value)
{
    SendRequest(kAnalogStart, &value, 1, TAnswerKind::Acknowledge);
}

void TRurIvaQs_6x6::AnalogRead(unsigned short value, unsigned char count)
{
    uint8_t* p = BeginRequest(kAnalogRead);
    PutU16(p, value);
    p[2] = count;
    FinishRequest(3, TAnswerKind::Framed);
}

void TRurIvaQs_6x6::AnalogEnd()
{
    SendRequest(kAnalogEnd, nullptr, 0, TAnswerKind::Acknowledge);
}

void TRurIvaQs_6x6::StartFlowCalculation(unsigned char channelMask)
{
    SendRequest(kStartFlowCalculation, &channelMask, 1, TAnswerKind::Acknowledge);
}

void TRurIvaQs_6x6::StartTermCalculation()
{
    SendRequest(kStartTermCalculation, nullptr, 0, TAnswerKind::Acknowledge);
}

void TRurIvaQs_6x6::ClearSetChecEditCounter()
{
    StartDecoding(&TRurIvaQs_6x6::ReceiveClearSetChecEditCounter,
                  [this] { WriteZeros(FlashAddress(flash::kCheckEditCounters), kCheckEditCountersSize); });
}

void TRurIvaQs_6x6::ReceiveClearSetChecEditCounter(int Length, const uint8_t* Buffer)
{
    const auto ack = static_cast<int8_t>(Length > 0 ? Buffer[0] : 0);
    EndDecoding();
    OnClearSetChecEditCounter(ack);
}

}  // namespace rv
