// The read chain of a window that talks to the meter: the configuration record in three reads, then the six
// sensor records in three reads each, every request sent from the answer to the one before.
#pragma once

#include "app/window/MeterImages.h"

#include <cstddef>

namespace rv {

class TRurIvaQs_6x6;

// What an answer did to the chain, so that the window can show its own status texts.
enum TReadProgress {
    rpNothing,      // the answer was stored and the next read sent (or the chain is not running)
    rpConfigRead,   // the configuration record is complete; the sensor reads have begun
    rpSensorsRead,  // the sixth sensor record is complete; the chain is done
};

// The window installs its own answer handler as OnReceiveExecuted before Start and passes every answer to
// Receive. Every read takes only an answer of exactly the length it asked for: any other (a late answer to the
// read before, a meter that cut its answer short, a part missing) is refused like one with a bad checksum and the
// engine repeats the read; nothing of it is stored. A stored answer is kept as far as its part of the image reaches.
class TConfigReadChain {
public:
    static constexpr int kDone = 6;  // ReadStep once the chain has ended (or before it started)

    // sensorBytesKept: how much of each sensor record is stored (the rest of the reads is taken and dropped).
    explicit TConfigReadChain(size_t sensorBytesKept = kSensorImageSize);

    // ReadStep 0: reads 100 bytes of the configuration record with the 16-bit form of ReadFlash.
    // Request errors (EProtocolError) reach the caller.
    void Start(TRurIvaQs_6x6& net);
    // Stores the answer of the step under way and sends the next read, or refuses an answer of another length
    // (the read is repeated); does nothing once done. Call it from the OnReceiveExecuted handler only.
    TReadProgress Receive(TRurIvaQs_6x6& net, short Length, const unsigned char* Buffer);
    // Ends the chain: later answers change nothing.
    void Stop() { readStep_ = kDone; }

    int ReadStep() const { return readStep_; }
    int SensorCounter() const { return sensorCounter_; }
    bool Running() const { return readStep_ != kDone; }
    const TConfigImage& ConfigImage() const { return config_; }
    const TSensorImages& SensorImage() const { return sensors_; }
    // For tests and for windows that change a record they wrote to the meter.
    TConfigImage& ConfigImage() { return config_; }
    TSensorImages& SensorImage() { return sensors_; }

private:
    size_t sensorBytesKept_;
    int readStep_ = kDone;
    int sensorCounter_ = 0;
    TConfigImage config_{};
    TSensorImages sensors_{};
};

}  // namespace rv
