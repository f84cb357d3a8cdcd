// Defaults of the flash address table and its recomputation from a layout record.
#include "FlashAddress.h"

#include <stdexcept>
#include <string>

#include "protocol/Frame.h"

namespace rv {

namespace {

constexpr uint32_t kS200 = 0x200, kS20 = 0x20, kS948 = 0x948, kS1188 = 0x1188, kS528 = 0x528;

struct Group {
    int first;
    int count;
    uint32_t start;
    uint32_t stride;
};

// The default layout; a group fills entry first + i with start + i * stride.
constexpr Group kDefaults[] = {
    {0, 1, 0, 0},
    {1, 1, 1, 0},
    {2, 1, 0x10, 0},
    {3, 1, 0x100, 0},
    {4, 6, 0x300, kS200},
    {10, 7, 0xF00, kS20},
    {17, 1, 0x1000, 0},
    {18, 1, 0x1080, 0},
    {19, 1, 0x1200, 0},
    {20, 6, 0x1400, kS200},
    {26, 1, 0x2000, 0},
    {27, 1, 0x2100, 0},
    {28, 1, 0x2500, 0},
    {29, 1, 0x2900, 0},
    {30, 1, 0x2A00, 0},
    {31, 6, 0x4410, kS948},
    {37, 6, 0x7BC0, kS1188},
    {43, 6, 0xE4F0, kS1188},
    {49, 6, 0x14E20, kS1188},
    {55, 6, 0x1B750, kS1188},
    {61, 6, 0x22080, kS1188},
    {67, 6, 0x289B0, kS1188},
    {73, 6, 0x2F2E0, kS1188},
    {79, 6, 0x35C10, kS1188},
    {85, 6, 0x3C540, kS1188},
    {91, 6, 0x42A50, kS528},
    {97, 6, 0x44940, kS948},
    {103, 6, 0x480F0, kS948},
    {109, 6, 0x4B8A0, kS948},
    {115, 6, 0x4F050, kS948},
    {121, 6, 0x52800, kS948},
    {127, 6, 0x55FB0, kS948},
    {133, 6, 0x59760, kS948},
    {139, 6, 0x5CF10, kS948},
    {145, 6, 0x606C0, kS948},
    {151, 2, 0x64080, kS1188},
    {153, 2, 0x66390, kS948},
    {155, 1, 0x67620, 0},
    {156, 1, 0x687A0, 0},
    {157, 8, 0x690E8, kS948},
    {165, 8, 0x6DB28, kS948},
    {173, 1, 0x72568, 0},
    {174, 1, 0x74458, 0},
};

// The groups that field k (1..26) of the layout record places: kFieldGroups[k - 1].
struct FieldGroup {
    int first;
    int count;
    uint32_t stride;
};
constexpr FieldGroup kFieldGroups[26] = {
    {155, 1, 0},       // field 1
    {31, 6, kS948},    // field 2
    {37, 6, kS1188},   // field 3
    {43, 6, kS1188},   // field 4
    {49, 6, kS1188},   // field 5
    {55, 6, kS1188},   // field 6
    {61, 6, kS1188},   // field 7
    {67, 6, kS1188},   // field 8
    {73, 6, kS1188},   // field 9
    {79, 6, kS1188},   // field 10
    {85, 6, kS1188},   // field 11
    {157, 8, kS948},   // field 12
    {151, 2, kS1188},  // field 13
    {156, 1, 0},       // field 14
    {91, 6, kS528},    // field 15
    {97, 6, kS948},    // field 16
    {103, 6, kS948},   // field 17
    {109, 6, kS948},   // field 18
    {115, 6, kS948},   // field 19
    {121, 6, kS948},   // field 20
    {127, 6, kS948},   // field 21
    {133, 6, kS948},   // field 22
    {139, 6, kS948},   // field 23
    {145, 6, kS948},   // field 24
    {165, 8, kS948},   // field 25
    {153, 2, kS948},   // field 26
};

using Table = std::array<uint32_t, kFlashAddressCount>;

constexpr void Fill(Table& t, int first, int count, uint32_t start, uint32_t stride)
{
    for (int i = 0; i < count; ++i) t[static_cast<size_t>(first + i)] = start + static_cast<uint32_t>(i) * stride;
}

constexpr Table MakeDefaults()
{
    Table t{};
    for (const Group& g : kDefaults) Fill(t, g.first, g.count, g.start, g.stride);
    return t;
}

constexpr Table kDefaultTable = MakeDefaults();
static_assert(kDefaultTable[9] == 0xD00 && kDefaultTable[114] == 0x4E708 && kDefaultTable[174] == 0x74458);

// Constant-initialised, so every static constructor of the program already sees the defaults.
constinit Table g_table = MakeDefaults();

}  // namespace

// Packed layout record, little-endian, 120 bytes:
//   0..103    fields 1..26   u32 offsets (field k at 4 * (k - 1))
//   104..107  field 27       u32 base address
//   108..115  fields 28, 29  two u32 words, not used
//   116..117  field 30       u16 offset of the error journals
//   118..119  field 31       u16 offset of the event journal
SDevVexa SDevVexa::Decode(const uint8_t* bytes, size_t size)
{
    if (!bytes || size < kSize)
        throw std::invalid_argument("Запись размещения памяти прибора короче " + std::to_string(kSize) +
                                    " байт (получено " + std::to_string(bytes ? size : 0) + ").");
    SDevVexa r;
    for (size_t k = 0; k < 26; ++k) r.Offset[k] = GetU32(bytes + 4 * k);
    r.Base = GetU32(bytes + 104);
    r.Unread[0] = GetU32(bytes + 108);
    r.Unread[1] = GetU32(bytes + 112);
    r.ErrorJournalOffset = GetU16(bytes + 116);
    r.EventJournalOffset = GetU16(bytes + 118);
    return r;
}

uint32_t FlashAddress(int entry)
{
    if (entry < 0 || entry >= kFlashAddressCount)
        throw std::out_of_range("Нет записи " + std::to_string(entry) + " в таблице адресов flash-памяти (0.." +
                                std::to_string(kFlashAddressCount - 1) + ").");
    return g_table[static_cast<size_t>(entry)];
}

uint32_t SensorRecordAddress(int position)
{
    if (position < 0 || position >= flash::kSensorCount) 
        throw std::out_of_range("Нет записи датчика в позиции " + std::to_string(position) + " (позиции 0..5).");
    return FlashAddress(flash::kFirstSensor + position);
}

const std::array<uint32_t, kFlashAddressCount>& FlashAddressTable()
{
    return g_table;
}

void SetFlashAddressDefault()
{
    g_table = kDefaultTable;
}

void SetFlashAddress(const SDevVexa* record)
{
    if (!record) return;
    const uint32_t base = record->Base;
    for (size_t k = 0; k < 26; ++k) {
        const FieldGroup& g = kFieldGroups[k];
        Fill(g_table, g.first, g.count, base + record->Offset[k], g.stride);
    }
    g_table[3] = base;
    g_table[173] = base + record->ErrorJournalOffset;
    g_table[174] = base + record->EventJournalOffset;
}

}  // namespace rv
