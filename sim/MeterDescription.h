// What a simulated meter is made of, as a plain description, and the meters built from it: the
// built-in default meter and meters described by a JSON file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/MeterImage.h"

namespace rv::sim {

// A bad meter description: the message names the file (if any), the key and what is wrong.
class MeterFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SensorDescription {
    uint8_t present = 1;
    uint8_t type = 1;  // 1 A, 2 B, 3 C
    uint8_t module = 1;
    std::string serial;   // at most 9 bytes in code page 1251
    std::string qvmax;    // at most 19
    std::string kfsText;  // at most 9
    float nominalMax = 0;
    float kfs = 1;
    float diameter = 0;
    float diameter2 = 0;
    std::array<std::array<float, 3>, layout::sensor::kSegments> correction{};
    std::array<float, layout::sensor::kThresholdCount> thresholds{};
    SensorPhysics physics;  // for the emulator; not part of the record
};

struct ModuleDescription {
    uint8_t number = 1;  // 0..layout::config::kMaxModule
    uint16_t execution = 0;
    uint8_t tableSet = 0;
};

// One record of the event journal: four bytes, three 32-bit words, and in layout 2 a closing 16-bit
// word. A KFS change is code 0x90, the module index, the sensor type index, 1, the first device flag
// word, the old and the new coefficient.
struct JournalRecord {
    uint8_t code = 0x90;
    uint8_t module = 0;
    uint8_t type = 0;
    uint8_t flag = 1;
    uint32_t deviceFlags = 0;
    float oldValue = 0;
    float newValue = 0;
    uint16_t tail = 0;  // layout 2 only
};

// Journal n: its records fill slots 0, 1, … of page n; the head (the count of records ever written)
// is the number of records unless given.
struct JournalDescription {
    uint8_t number = 0;  // 0..7
    std::optional<int16_t> head;
    std::vector<JournalRecord> records;  // at most 16
};

// An archive ring of N records (1080 in the hour ring, 550 in the day ring) of recordSize bytes
// from address. Record k, a running number, lies in slot k mod N and holds first + step·k in its
// first width bytes (little-endian, cut to the width); the rest of the record is
// kArchiveFiller. Only the records the meter still holds are written: the newest min(P, N) of the
// P records written (hourRecords or dayRecords). values, when given, replace the values of the
// newest records, oldest first.
struct ArchiveRingDescription {
    bool hour = true;
    uint32_t address = 0;
    uint32_t recordSize = 4;
    uint8_t width = 4;  // 2, 4 or 8
    int64_t first = 0;
    int64_t step = 1;
    std::vector<int64_t> values;
};
inline constexpr uint8_t kArchiveFiller = 0xEE;

// One record of the error journals: two 32-bit words and, in layout 2, a closing 16-bit word.
struct ErrorRecordDescription {
    uint32_t word0 = 0;
    uint32_t word1 = 0;
    uint16_t tail = 0;  // layout 2 only
};

// A block of the error journals: first-level block `block` (0..7) without a group, else block
// `block` (0..5 in layout 1, 0..4 in layout 2) of group `group` (0..7). Its records fill slots
// 0, 1, …; its head is the number of records unless given.
struct ErrorBlockDescription {
    std::optional<uint8_t> group;
    uint8_t block = 0;
    std::optional<int16_t> head;
    std::vector<ErrorRecordDescription> records;  // at most 16
};

struct RawBytes {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};

// Every field has the value a meter of an empty description has; DefaultDescription() fills a
// realistic one.
struct MeterDescription {
    uint16_t deviceCode = 0x1400;
    uint16_t softwareVersion = 0;
    uint32_t deviceValue = 0;  // identity offset 4
    uint32_t serialNumber = 0;
    uint16_t status = 0;  // identity offset 12
    uint8_t slaveAddress = 0xC9;
    int8_t moduleCount = 1;
    MeterOptions options;
    std::string display;

    uint8_t pathsPerSensor = 1;
    std::vector<ModuleDescription> modules;
    std::array<std::optional<SensorDescription>, layout::kSensorCount> sensors;

    std::array<uint16_t, layout::kPointerCount> ramPointers = DefaultRamPointers();
    bool emulatorMode = false;
    EmulatorOptions emulator;
    // When given, sets or clears the correction-mode bit of status.
    std::optional<bool> correctionMode;
    FlashWrites flashWrites = FlashWrites::Apply;
    std::array<uint32_t, 6> deviceFlags{};
    std::array<uint8_t, layout::ram::kEmulatorSize> emulatorBlock{};

    // Laid out as layout 2 (18-byte records) when softwareVersion is 200 or more, else layout 1.
    std::vector<JournalDescription> journals;

    // The archive pointers and the rings they count.
    uint32_t archiveValue0 = 0;
    uint32_t hourRecords = 0;
    uint32_t dayRecords = 0;
    std::vector<ArchiveRingDescription> archives;

    // Totals, as 32-bit words from the start of their block (the rest of the block stays zero):
    // flash blocks of all sums, day sums and the check and edit counters; RAM blocks of the module
    // hour sums (pointer word 10) and the stop time (word 16).
    std::vector<uint32_t> allSums;
    std::vector<uint32_t> daySums;
    std::vector<uint32_t> checkEditCounters;
    std::vector<uint32_t> hourSums;
    std::vector<uint32_t> stopTime;

    // Laid out like the event journal: layout 2 when softwareVersion is 200 or more.
    std::vector<ErrorBlockDescription> errorJournal;

    // The answer of the pressure command 0x86.
    std::vector<uint8_t> pressData;

    // Applied last, in order, so they may overwrite anything above.
    std::vector<RawBytes> flashBytes;
    std::vector<RawBytes> ramBytes;

    static std::array<uint16_t, layout::kPointerCount> DefaultRamPointers();
};

// Builds the image; throws MeterFileError when a field does not fit its record or its memory.
std::shared_ptr<MeterImage> BuildMeter(const MeterDescription& d);

// A one-path meter of one module with four sensors that follow the flow model (flat correction, no
// deviation, no noise), in emulator mode, two KFS changes in its journal.
MeterDescription DefaultDescription();
std::shared_ptr<MeterImage> DefaultMeter();

// JSON meter files. Unknown keys, values that do not fit their field and malformed JSON are errors.
MeterDescription ParseMeterDescription(std::string_view json, const std::string& source = "meter description");
std::shared_ptr<MeterImage> ParseMeter(std::string_view json, const std::string& source = "meter description");
std::shared_ptr<MeterImage> LoadMeter(const std::string& path);

}  // namespace rv::sim
