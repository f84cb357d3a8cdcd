// The program-wide flash address table: where the meter keeps its configuration, module records,
// totals, archives and journals. One table for the whole program, in force from static
// initialisation on; changed only on the loop thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace rv {

inline constexpr int kFlashAddressCount = 175;

// The layout record from which SetFlashAddress recomputes the table; decoded from its packed
// little-endian form by Decode (see FlashAddress.cpp for the byte layout).
struct SDevVexa {
    static constexpr size_t kSize = 120;

    uint32_t Offset[26] = {};         // fields 1..26: Offset[k - 1] is field k, relative to Base
    uint32_t Base = 0;                // field 27: the configuration record and base of every offset
    uint32_t Unread[2] = {};          // fields 28, 29: carried, not used
    uint16_t ErrorJournalOffset = 0;  // field 30 -> entry 173
    uint16_t EventJournalOffset = 0;  // field 31 -> entry 174

    // Decodes the first kSize bytes; throws std::invalid_argument when fewer are given.
    static SDevVexa Decode(const uint8_t* bytes, size_t size);
};

// The entries the program reads and writes through.
namespace flash {
inline constexpr int kPointerTable = 2;        // the RAM pointer table
inline constexpr int kConfiguration = 3;       // the configuration record
inline constexpr int kFirstSensor = 4;         // 4..9: the six sensor (module) records
inline constexpr int kSensorCount = 6;
inline constexpr int kCheckEditCounters = 26;
inline constexpr int kDaySums = 27;
inline constexpr int kAllSums = 28;
inline constexpr int kArchivePointers = 29;
inline constexpr int kErrorJournals = 173;
inline constexpr int kEventJournal = 174;
}  // namespace flash

// Entry 0..174; any other index throws std::out_of_range.
uint32_t FlashAddress(int entry);
const std::array<uint32_t, kFlashAddressCount>& FlashAddressTable();
// The flash address of sensor record 0..5; any other position throws std::out_of_range.
uint32_t SensorRecordAddress(int position);

// Writes the default layout into all entries.
void SetFlashAddressDefault();
// Recomputes entries 3 and 31..174 from the record; 0..2 and 4..30 keep their values. Null is ignored.
void SetFlashAddress(const SDevVexa* record);

}  // namespace rv
