// The read chain: the configuration record in reads of 100, 100 and 192 bytes, each sensor record in reads of
// 100, 100 and 110 bytes, at the addresses of the flash address table.
#include "app/window/TConfigReadChain.h"

#include "meter/FlashAddress.h"
#include "meter/TRurIvaQs_6x6.h"

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

// Copies the step's answer (of the length asked for), never past the end of the stored part.
void Store(uint8_t* image, size_t stored, const StepShape& step, const unsigned char* buffer)
{
    if (step.offset >= stored) return;
    std::memcpy(image + step.offset, buffer, std::min(static_cast<size_t>(step.count), stored - step.offset));
}

}  // namespace

TConfigReadChain::TConfigReadChain(size_t sensorBytesKept)
    : sensorBytesKept_(std::min(sensorBytesKept, kSensorImageSize))
{
}

void TConfigReadChain::Start(TRurIvaQs_6x6& net)
{
    readStep_ = 0;
    sensorCounter_ = 0;
    net.ReadFlash(static_cast<unsigned short>(FlashAddress(flash::kConfiguration) & 0xFFFF), kSteps[0].count);
}

TReadProgress TConfigReadChain::Receive(TRurIvaQs_6x6& net, short Length, const unsigned char* Buffer)
{
    if (readStep_ < 0 || readStep_ >= kDone) return rpNothing;
    const StepShape& step = kSteps[readStep_];
    // Frames carry nothing that ties an answer to its read: its length is all that tells a wrong one.
    if (!Buffer || Length != step.count) {
        net.RefuseAnswer();
        return rpNothing;
    }
    if (readStep_ <= 2) {
        Store(config_.data(), config_.size(), step, Buffer);
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

    Store(sensors_[static_cast<size_t>(sensorCounter_)].data(), sensorBytesKept_, step, Buffer);
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
