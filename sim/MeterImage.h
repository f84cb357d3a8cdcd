// The simulated meter's memory and identity: flash, RAM, the separate F149 flash, the 14-byte
// identity record, its line address, and where the meter keeps its records.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/MemoryArea.h"
#include "sim/MeterBehaviour.h"

namespace rv::sim {

// The meter's own map of its memory. The engine has its own copy of the flash addresses; the
// simulator keeps this one so that neither side can hide a mistake of the other.
namespace layout {
inline constexpr size_t kFlashSize = 0x80000;  // covers every region up to the event journal's end
inline constexpr size_t kRamSize = 0x10000;    // the whole 16-bit RAM address space
inline constexpr size_t kF149Size = 0x10000;   // reached by the F149 pair with 16-bit addresses

inline constexpr uint32_t kPointerTable = 0x10;  // SPointerRAM: 17 RAM addresses
inline constexpr int kPointerCount = 17;
inline constexpr size_t kPointerTableRead = 38;  // the engine reads 38 bytes, keeps 34
inline constexpr uint32_t kConfig = 0x100;
inline constexpr size_t kConfigSize = 392;
inline constexpr uint32_t kSensorBase = 0x300;
inline constexpr uint32_t kSensorStride = 0x200;
inline constexpr int kSensorCount = 6;
inline constexpr size_t kSensorSize = 310;
inline constexpr uint32_t kCheckEditCounters = 0x2000;
inline constexpr uint32_t kDaySums = 0x2100;
inline constexpr uint32_t kAllSums = 0x2500;
inline constexpr uint32_t kArchivePointers = 0x2900;
inline constexpr uint32_t kErrorJournals = 0x72568;
inline constexpr uint32_t kEventJournal = 0x74458;  // 8 heads of 16 bits, then 8 pages

constexpr uint32_t SensorAddress(int i) { return kSensorBase + kSensorStride * static_cast<uint32_t>(i); }

// Configuration record (392 bytes at kConfig), the fields the meter's readers use:
//   2 + 50·m   u16  execution number of module m
//   32         u8   paths per sensor (1 or 3)
//   379 + m    u8   table set (accuracy class) of module m
namespace config {
inline constexpr size_t kModuleStride = 50;
inline constexpr size_t kExecution = 2;
inline constexpr size_t kPathsPerSensor = 32;
inline constexpr size_t kTableSet = 379;
inline constexpr int kMaxModule = 7;  // the highest m whose execution and table set lie in the record
}  // namespace config

// Sensor record (310 bytes at SensorAddress(i)):
//   120 u8 present | 122 u8 type (1 A, 2 B, 3 C) | 123 u8 module number
//   130 text serial (to 140) | 140 text QVmax (to 160) | 160 text KFS, 10 bytes
//   170 f32 nominal maximum | 178 f32 KFS | 186 f32 diameter, m | 194 f32 second diameter, m
//   198 + 12·k f32 a, b, c of correction segment k (k = 0..4) | 258 + 4·j f32 threshold j (j = 0..3)
namespace sensor {
inline constexpr size_t kPresent = 120;
inline constexpr size_t kType = 122;
inline constexpr size_t kModule = 123;
inline constexpr size_t kSerial = 130;
inline constexpr size_t kSerialLen = 10;
inline constexpr size_t kQvmax = 140;
inline constexpr size_t kQvmaxLen = 20;
inline constexpr size_t kKfsText = 160;
inline constexpr size_t kKfsTextLen = 10;
inline constexpr size_t kNominalMax = 170;
inline constexpr size_t kKfs = 178;
inline constexpr size_t kDiameter = 186;
inline constexpr size_t kDiameter2 = 194;
inline constexpr size_t kCorrection = 198;
inline constexpr int kSegments = 5;
inline constexpr size_t kThresholds = 258;
inline constexpr int kThresholdCount = 4;
}  // namespace sensor

// RAM blocks reached through the pointer table: word -> size in bytes.
namespace ram {
inline constexpr int kDeviceFlagsWord = 2;  // 24 bytes, six 32-bit flag words
inline constexpr size_t kDeviceFlagsSize = 24;
inline constexpr int kFlagsWord = 3;  // 16 bytes; byte 13 non-zero = emulator mode
inline constexpr size_t kFlagsSize = 16;
inline constexpr size_t kEmulatorModeByte = 13;
inline constexpr int kLastMeasureWord = 6;  // 152 bytes, 38 floats
inline constexpr size_t kLastMeasureSize = 152;
inline constexpr int kEmulatorWord = 8;  // 8 bytes, two groups of 4
inline constexpr size_t kEmulatorSize = 8;
inline constexpr int kHourSumsWord = 10;  // 160 + 88 bytes
inline constexpr size_t kHourSumsSize = 248;
inline constexpr int kWord13 = 13;  // 4 bytes
inline constexpr int kAnalogueUlWord = 14;  // 32 bytes
inline constexpr int kStopTimeWord = 16;  // 16 bytes
}  // namespace ram

// Event journal (at kEventJournal): head of journal n at 2n; layout-1 pages of 256 bytes from 16,
// layout-2 pages of 288 bytes from 16.
namespace journal {
inline constexpr int kJournals = 8;
inline constexpr size_t kPages = 16;
inline constexpr size_t kPage1 = 256;
inline constexpr size_t kPage2 = 288;
}  // namespace journal

// Archive pointers (12 bytes at kArchivePointers): u32 not used by the PC | u32 hour records written
// | u32 day records written. Record k of a ring of N records lies in slot k mod N.
namespace archive {
inline constexpr size_t kPointersSize = 12;
inline constexpr uint32_t kHourRecords = 1080;
inline constexpr uint32_t kDayRecords = 550;
}  // namespace archive

// Totals: flash blocks at kCheckEditCounters, kDaySums and kAllSums; RAM blocks behind the pointer
// table words ram::kHourSumsWord and ram::kStopTimeWord. Their contents are the meter's own.
namespace totals {
inline constexpr size_t kCheckEditCountersSize = 28;
inline constexpr size_t kDaySumsSize = 328;
inline constexpr size_t kAllSumsSize = 560;
inline constexpr size_t kStopTimeSize = 16;
}  // namespace totals

// Error journals (at kErrorJournals), offsets from the start; layout 1 | layout 2:
//   first-level heads, 8 x u16:                     0 | 0
//   first-level block a, 16 records of 8 | 10 bytes: 16 + 128a | 16 + 160a
//   heads of group a, 6 | 5 x u16:                  1040 + 12a | 1296 + 10a
//   block b of group a:                             1136 + 768a + 128b | 1376 + 800a + 160b
// A record: u32, u32, and in layout 2 a closing u16.
namespace errors {
inline constexpr int kBlocks = 8;
inline constexpr int kGroups = 8;
inline constexpr int kGroupBlocks1 = 6;
inline constexpr int kGroupBlocks2 = 5;
inline constexpr size_t kRecords = 16;
inline constexpr size_t kRecord1 = 8;
inline constexpr size_t kRecord2 = 10;
inline constexpr uint32_t kGroupHeads1 = 1040;
inline constexpr uint32_t kGroupHeads2 = 1296;
inline constexpr uint32_t kGroupBlocksAt1 = 1136;
inline constexpr uint32_t kGroupBlocksAt2 = 1376;
}  // namespace errors
}  // namespace layout

// One archive ring as the meter keeps it in flash: records of recordSize bytes from address. The
// meter command 0x90 serves values out of these records; it strides by the record size of the
// ring that holds the address asked for, and by the value width where no ring does.
struct ArchiveRing {
    uint32_t address = 0;
    uint32_t records = 0;
    uint32_t recordSize = 0;
    bool Contains(uint64_t addr) const
    {
        return addr >= address && addr < address + uint64_t{records} * recordSize;
    }
    bool operator==(const ArchiveRing& other) const = default;
};

// What the measurement commands left behind, for tests and for the emulator physics to build on.
struct MeterCommandState {
    uint32_t saves = 0;
    uint8_t lastSaveChannel = 0;
    bool analogueRunning = false;
    uint8_t analogueChannel = 0;
    uint32_t flowCalculations = 0;
    uint8_t flowChannelMask = 0;
    uint32_t termCalculations = 0;
    bool operator==(const MeterCommandState& other) const = default;
};

// Identity record (14 bytes, the payload of the identity answer):
//   0 u16 device code | 2 u16 software version | 4 u32 device value | 8 u32 serial number
//   12 u16 status bits (0x02: correction mode)
inline constexpr size_t kIdentitySize = 14;
inline constexpr uint16_t kStatusCorrectionMode = 0x02;

// What the meter answers to a write or set command: done, or refused.
inline constexpr uint8_t kAckOk = 0xFF;
inline constexpr uint8_t kAckRefused = 0x00;

// "0x1A2B", for messages about addresses.
std::string HexAddress(uint64_t address);

struct MeterOptions {
    bool echo = true;           // the line returns the PC's own bytes (a two-wire line)
    uint32_t turnaroundUs = 0;  // from the request's last byte to the answer's first
    bool operator==(const MeterOptions& other) const = default;
};

struct MeterImage {
    MeterImage();

    MemoryArea flash;
    MemoryArea ram;
    MemoryArea f149;  // erased (0xFF) by ClearFlashF149
    std::array<uint8_t, kIdentitySize> identity{};
    uint8_t slaveAddress = 0xC9;
    uint8_t f149Address = 0xCA;
    int8_t moduleCount = 1;
    std::string display;  // shown on the meter's display, UTF-8; sent as code page 1251
    MeterOptions options;

    // Set by the service commands that change no memory.
    std::array<uint8_t, 20> clock{};
    uint32_t password = 0;
    uint8_t lastKey = 0;
    uint32_t keyPresses = 0;

    // The archive rings (for the record size the 0x90 command strides by), the answer of the
    // pressure command 0x86, and what the measurement commands did.
    std::vector<ArchiveRing> archiveRings;
    std::vector<uint8_t> pressData;
    MeterCommandState meterCommands;

    // The emulator's physics (EmulatorPhysics.h), per sensor position and for the meter, what it has
    // kept so far, and the meter's answer to flash writes (FlashWritePolicy.h).
    EmulatorOptions emulator;
    std::array<SensorPhysics, layout::kSensorCount> sensorPhysics;
    EmulatorState emulatorState;
    FlashWrites flashWrites = FlashWrites::Apply;
    // The record size the 0x90 command uses at addr: that of the first ring holding addr, else width.
    uint32_t RecordSizeAt(uint64_t addr, uint32_t width) const;

    uint16_t DeviceCode() const;
    uint16_t SoftwareVersion() const;
    uint32_t SerialNumber() const;
    uint16_t Status() const;
    void SetDeviceCode(uint16_t v);
    void SetSoftwareVersion(uint16_t v);
    void SetDeviceValue(uint32_t v);
    void SetSerialNumber(uint32_t v);
    void SetStatus(uint16_t v);

    // Word k of the RAM pointer table in flash.
    uint16_t RamPointer(int k) const;
    void SetRamPointer(int k, uint16_t address);
    bool EmulatorMode() const;
    void SetEmulatorMode(bool on);
    // The correction-mode bit of the identity status word.
    bool CorrectionMode() const;
    void SetCorrectionMode(bool on);

    bool operator==(const MeterImage& other) const = default;
};

}  // namespace rv::sim
