// Records of the meter command set as the meter keeps them, each decoded field by field from its
// little-endian bytes (never through the host's struct layout), and the command set's error.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/ProtocolTypes.h"

namespace rv {

// A meter request that cannot be made (an index outside its journal, block or group, a record
// size that cannot hold the value). The message is for the technician and names the operation.
class EMeterError : public EProtocolError {
public:
    using EProtocolError::EProtocolError;
};

// The RAM pointer table: 17 meter RAM addresses in the order the meter's flash holds them.
//   offset 2k  u16  word k (k = 0..16)
struct SPointerRAM {
    static constexpr size_t kSize = 34;
    static constexpr int kCount = 17;
    // The words this program addresses through.
    static constexpr int kDeviceFlags = 2;
    static constexpr int kFlags6x6 = 3;
    static constexpr int kLastMeasure = 6;
    static constexpr int kEmulator = 8;
    static constexpr int kModuleSums = 10;
    static constexpr int kEmulatorDelay = 13;
    static constexpr int kAnalogueUL = 14;
    static constexpr int kStopTime = 16;

    uint16_t Word[kCount] = {};

    static SPointerRAM Decode(const uint8_t* bytes);
};

// The device flag words.
//   offset 4k  u32  word k (k = 0..5); word 0 goes into the journal records the KFS writer makes
struct SDeviceFlagsDWord {
    static constexpr size_t kSize = 24;
    static constexpr int kCount = 6;

    uint32_t Word[kCount] = {};

    static SDeviceFlagsDWord Decode(const uint8_t* bytes);
};

// The last measurement: 38 single-precision values in the meter's order.
//   offset 4k  f32  value k (k = 0..37)
struct SLastMeasure {
    static constexpr size_t kSize = 152;
    static constexpr int kCount = 38;

    float Value[kCount] = {};

    static SLastMeasure Decode(const uint8_t* bytes);
};

// The 6x6 flag bytes (the meter keeps 16; the first 14 are the record).
//   offset k  u8  flag k; flag 13 non-zero: the meter is in emulator mode
struct S6x6FlagsByte {
    static constexpr size_t kSize = 14;
    static constexpr int kEmulatorMode = 13;

    uint8_t Byte[kSize] = {};

    bool EmulatorMode() const { return Byte[kEmulatorMode] != 0; }
    static S6x6FlagsByte Decode(const uint8_t* bytes);
};

// A journal head: the running count of records written to the journal or block.
//   offset 0  i16  the count; the next record of an edit journal goes to slot (count AND 15)
struct SHead {
    static constexpr size_t kSize = 2;

    int16_t Value = 0;

    static SHead Decode(const uint8_t* bytes);
};

// A record of the event (edit) journal, layout 1.
//   0 u8 event code | 1 u8 journal number | 2 u8 index from the sensor record | 3 u8 flag
//   4 u32 first device flag word | 8 u32 first value | 12 u32 second value
// The two values are what the writer put there (the KFS writer stores the bits of two floats).
struct SEventRecord {
    static constexpr size_t kSize = 16;

    uint8_t Code = 0;
    uint8_t Journal = 0;
    uint8_t Index = 0;
    uint8_t Flag = 0;
    uint32_t DeviceFlags = 0;
    uint32_t Value[2] = {};

    static SEventRecord Decode(const uint8_t* bytes);
    // The kSize bytes as the meter keeps them.
    void Encode(uint8_t* out) const;
};

// A record of the event journal, layout 2: the layout-1 record, then
//   16 u16 closing word
struct SEventRecordV2 {
    static constexpr size_t kSize = 18;

    uint8_t Code = 0;
    uint8_t Journal = 0;
    uint8_t Index = 0;
    uint8_t Flag = 0;
    uint32_t DeviceFlags = 0;
    uint32_t Value[2] = {};
    uint16_t Tail = 0;

    static SEventRecordV2 Decode(const uint8_t* bytes);
    void Encode(uint8_t* out) const;
};

// The archive pointers.
//   0 u32 not used here | 4 u32 running number of hour records written | 8 u32 the same for days
struct SArhives {
    static constexpr size_t kSize = 12;

    uint32_t Value0 = 0;
    uint32_t HourRecords = 0;
    uint32_t DayRecords = 0;

    static SArhives Decode(const uint8_t* bytes);
};

// Records whose contents belong to the meter: kept as the bytes it sent, passed on as read.
struct UModuleSumHoure {
    static constexpr size_t kSize = 248;
    uint8_t Bytes[kSize] = {};
};
struct SModuleSumALLM {
    static constexpr size_t kSize = 248;
    uint8_t Bytes[kSize] = {};
};
struct SAllSumm {
    static constexpr size_t kSize = 560;
    uint8_t Bytes[kSize] = {};
};

// A record of the error journals, layout 1.
//   0 u32 first word | 4 u32 second word
struct SErrorRecord {
    static constexpr size_t kSize = 8;

    uint32_t Word[2] = {};

    static SErrorRecord Decode(const uint8_t* bytes);
};

// A record of the error journals, layout 2.
//   0 u32 first word | 4 u32 second word | 8 u16 closing word
struct SErrorRecordV2 {
    static constexpr size_t kSize = 10;

    uint32_t Word[2] = {};
    uint16_t Tail = 0;

    static SErrorRecordV2 Decode(const uint8_t* bytes);
};

}  // namespace rv
