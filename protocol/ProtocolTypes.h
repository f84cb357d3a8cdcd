// Records, enumerations and the error class of the link protocol: the line type, the identity
// record, the time record, the line statistics and the request error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace rv {

// The line type that Initialization applies to the device link.
enum TWorkType { wtNet4800, wtNet115200, wtIrDA, wtModem, wtNet9600 };

// The identity record: the 14-byte payload of the identity answer, little-endian.
//   offset 0  u16  device value (not interpreted here)
//   offset 2  u16  software version; 200 and above is the second firmware generation
//   offset 4  u32  device value (not interpreted here)
//   offset 8  u32  serial number
//   offset 12 u16  device value (not interpreted here)
struct SIDDevice {
    static constexpr size_t kSize = 14;

    uint16_t Value0 = 0;
    uint16_t Version = 0;
    uint32_t Value4 = 0;
    uint32_t SerialNumber = 0;
    uint16_t Value12 = 0;
    uint8_t Raw[kSize] = {};  // the bytes as they came from the device

    // Decodes the record from exactly kSize bytes.
    static SIDDevice Decode(const uint8_t* bytes);
};

// The 20-byte time record of SetTime. Its layout belongs to the device; it is sent unchanged.
struct SNextTime {
    static constexpr size_t kSize = 20;
    uint8_t Bytes[kSize] = {};
};

// What happened on the line since the engine was created or the counters were last reset.
struct SLineStatistics {
    uint64_t Frames = 0;           // request frames handed to the link (retries included)
    uint64_t WakeUps = 0;          // wake-up bytes sent
    uint64_t Answers = 0;          // answers accepted (checksum right, or acknowledge / module counter)
    uint64_t TimeOuts = 0;         // expiries of the answer timer
    uint64_t FalseCRC = 0;         // answers whose checksum did not match
    uint64_t Dropped = 0;          // packets dropped by an address test
    uint64_t Repetitions = 0;      // frames scheduled again after a time-out or a checksum failure
    uint64_t TransmitErrors = 0;   // sends the link refused (port closed, device gone)
    int64_t LastRoundTripMs = -1;  // frame handed to the link -> answer accepted; -1 before the first
    int64_t LastAnswerMs = -1;     // loop time at which the last answer was accepted; -1 before the first
};

// A request that cannot be built (a count beyond what a frame can carry, a missing buffer or link).
// The message is for the technician and names the request.
class EProtocolError : public std::runtime_error {
public:
    explicit EProtocolError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace rv
