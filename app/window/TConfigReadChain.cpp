// The read chain: the configuration record in reads of 100, 100 and 192 bytes, each sensor record in reads of
// 100, 100 and 110 bytes, at the addresses of the flash address table.
#include "app/window/TConfigReadChain.h"

#include "meter/FlashAddress.h"
#include "protocol/TRurIvaQs.h"

#include <algorithm>
#include <cstring>

namespace rv {

namespace {

// Where each step's answer goes and how much is asked: configuration steps 0..2, sensor steps 3..5.
struct StepShape {
    size_t offset;
    unsigned char count;
};
constexpr StepShape kSteps[6] = {{0, 100}, {100, 100}, {200, 192}, {0, 100}, {100, 100}, {200, 110}};

// Copies what arrived, never more than the step asked for and never past the end of the stored part.
void Store(uint8_t* image, size_t stored, const StepShape& step, short length, const unsigned char* buffer)
{
    if (!buffer || length <= 0 || step.offset >= stored) return;
    const size_t n = std::min({static_cast<size_t>(length), static_cast<size_t>(step.count), stored - step.offset});
    std::memcpy(image + step.offset, buffer, n);
}

}  // namespace

TConfigReadChain::TConfigReadChain(size_t sensorBytesKept)
    : sensorBytesKept_(std::min(sensorBytesKept, kSensorImageSize))
{
}

void TConfigReadChain::Start(TRurIvaQs& net)
{
    readStep_ = 0;
    sensorCounter_ = 0;
    net.ReadFlash(static_cast<unsigned short>(FlashAddress(flash::kConfiguration) & 0xFFFF), kSteps[0].count);
}

TReadProgress TConfigReadChain::Receive(TRurIvaQs& net, short Length, const unsigned char* Buffer)
{
    if (readStep_ < 0 || readStep_ >= kDone) return rpNothing;
    const StepShape& step = kSteps[readStep_];
    if (readStep_ <= 2) {
        Store(config_.data(), config_.size(), step, Length, Buffer);
        ++readStep_;
        if (readStep_ <= 2) {
            const StepShape& next = kSteps[readStep_];
            net.ReadFlashLarge(FlashAddress(flash::kConfiguration) + static_cast<uint32_t>(next.offset), next.count);
            return rpNothing;
        }
        sensorCounter_ = 0;
        net.ReadFlashLarge(SensorRecordAddress(0), kSteps[3].count);
        return rpConfigRead;
    }

    Store(sensors_[static_cast<size_t>(sensorCounter_)].data(), sensorBytesKept_, step, Length, Buffer);
    if (readStep_ < 5) {
        ++readStep_;
        const StepShape& next = kSteps[readStep_];
        net.ReadFlashLarge(SensorRecordAddress(sensorCounter_) + static_cast<uint32_t>(next.offset), next.count);
        return rpNothing;
    }
    ++sensorCounter_;
    if (sensorCounter_ < flash::kSensorCount) {
        readStep_ = 3;
        net.ReadFlashLarge(SensorRecordAddress(sensorCounter_), kSteps[3].count);
        return rpNothing;
    }
    readStep_ = kDone;
    return rpSensorsRead;
}

}  // namespace rv
