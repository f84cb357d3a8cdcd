// The program-wide flash address table against the meter's memory map: every default entry, where
// every field of a layout record puts its group, and restoring the defaults.
#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "meter/FlashAddress.h"
#include "meter/TRurIvaQs_6x6.h"
#include "protocol/Frame.h"

namespace rv {
namespace {

class FlashTable : public ::testing::Test {
protected:
    ~FlashTable() override { SetFlashAddressDefault(); }
};

// The default layout entry by entry, as the meter's memory map gives it (not computed from groups).
constexpr uint32_t kDefaults[kFlashAddressCount] = {
    /*        0 */ 0x0,
    /*        1 */ 0x1,
    /*        2 */ 0x10,
    /*        3 */ 0x100,
    /*     4..9 */ 0x300, 0x500, 0x700, 0x900, 0xB00, 0xD00,
    /*   10..16 */ 0xF00, 0xF20, 0xF40, 0xF60, 0xF80, 0xFA0, 0xFC0,
    /*       17 */ 0x1000,
    /*       18 */ 0x1080,
    /*       19 */ 0x1200,
    /*   20..25 */ 0x1400, 0x1600, 0x1800, 0x1A00, 0x1C00, 0x1E00,
    /*       26 */ 0x2000,
    /*       27 */ 0x2100,
    /*       28 */ 0x2500,
    /*       29 */ 0x2900,
    /*       30 */ 0x2A00,
    /*   31..36 */ 0x4410, 0x4D58, 0x56A0, 0x5FE8, 0x6930, 0x7278,
    /*   37..42 */ 0x7BC0, 0x8D48, 0x9ED0, 0xB058, 0xC1E0, 0xD368,
    /*   43..48 */ 0xE4F0, 0xF678, 0x10800, 0x11988, 0x12B10, 0x13C98,
    /*   49..54 */ 0x14E20, 0x15FA8, 0x17130, 0x182B8, 0x19440, 0x1A5C8,
    /*   55..60 */ 0x1B750, 0x1C8D8, 0x1DA60, 0x1EBE8, 0x1FD70, 0x20EF8,
    /*   61..66 */ 0x22080, 0x23208, 0x24390, 0x25518, 0x266A0, 0x27828,
    /*   67..72 */ 0x289B0, 0x29B38, 0x2ACC0, 0x2BE48, 0x2CFD0, 0x2E158,
    /*   73..78 */ 0x2F2E0, 0x30468, 0x315F0, 0x32778, 0x33900, 0x34A88,
    /*   79..84 */ 0x35C10, 0x36D98, 0x37F20, 0x390A8, 0x3A230, 0x3B3B8,
    /*   85..90 */ 0x3C540, 0x3D6C8, 0x3E850, 0x3F9D8, 0x40B60, 0x41CE8,
    /*   91..96 */ 0x42A50, 0x42F78, 0x434A0, 0x439C8, 0x43EF0, 0x44418,
    /*  97..102 */ 0x44940, 0x45288, 0x45BD0, 0x46518, 0x46E60, 0x477A8,
    /* 103..108 */ 0x480F0, 0x48A38, 0x49380, 0x49CC8, 0x4A610, 0x4AF58,
    /* 109..114 */ 0x4B8A0, 0x4C1E8, 0x4CB30, 0x4D478, 0x4DDC0, 0x4E708,
    /* 115..120 */ 0x4F050, 0x4F998, 0x502E0, 0x50C28, 0x51570, 0x51EB8,
    /* 121..126 */ 0x52800, 0x53148, 0x53A90, 0x543D8, 0x54D20, 0x55668,
    /* 127..132 */ 0x55FB0, 0x568F8, 0x57240, 0x57B88, 0x584D0, 0x58E18,
    /* 133..138 */ 0x59760, 0x5A0A8, 0x5A9F0, 0x5B338, 0x5BC80, 0x5C5C8,
    /* 139..144 */ 0x5CF10, 0x5D858, 0x5E1A0, 0x5EAE8, 0x5F430, 0x5FD78,
    /* 145..150 */ 0x606C0, 0x61008, 0x61950, 0x62298, 0x62BE0, 0x63528,
    /* 151..152 */ 0x64080, 0x65208,
    /* 153..154 */ 0x66390, 0x66CD8,
    /*      155 */ 0x67620,
    /*      156 */ 0x687A0,
    /* 157..164 */ 0x690E8, 0x69A30, 0x6A378, 0x6ACC0, 0x6B608, 0x6BF50, 0x6C898, 0x6D1E0,
    /* 165..172 */ 0x6DB28, 0x6E470, 0x6EDB8, 0x6F700, 0x70048, 0x70990, 0x712D8, 0x71C20,
    /*      173 */ 0x72568,
    /*      174 */ 0x74458,
};

// Where each of the 26 offset fields of the layout record puts its group of entries.
struct FieldRow {
    int field;
    int first;
    int count;
    uint32_t stride;
};
constexpr FieldRow kFieldRows[26] = {
    {1, 155, 1, 0},       {2, 31, 6, 0x948},    {3, 37, 6, 0x1188},   {4, 43, 6, 0x1188},
    {5, 49, 6, 0x1188},   {6, 55, 6, 0x1188},   {7, 61, 6, 0x1188},   {8, 67, 6, 0x1188},
    {9, 73, 6, 0x1188},   {10, 79, 6, 0x1188},  {11, 85, 6, 0x1188},  {12, 157, 8, 0x948},
    {13, 151, 2, 0x1188}, {14, 156, 1, 0},      {15, 91, 6, 0x528},   {16, 97, 6, 0x948},
    {17, 103, 6, 0x948},  {18, 109, 6, 0x948},  {19, 115, 6, 0x948},  {20, 121, 6, 0x948},
    {21, 127, 6, 0x948},  {22, 133, 6, 0x948},  {23, 139, 6, 0x948},  {24, 145, 6, 0x948},
    {25, 165, 8, 0x948},  {26, 153, 2, 0x948},
};

// Runs first in this executable by name order of the suite; the defaults hold before any change.
TEST_F(FlashTable, DefaultsHoldFromStaticInitialisation)
{
    for (int e = 0; e < kFlashAddressCount; ++e) EXPECT_EQ(FlashAddress(e), kDefaults[e]) << "entry " << e;
    EXPECT_EQ(FlashAddress(9), 0xD00u);
    EXPECT_EQ(FlashAddress(114), 0x4E708u);
    EXPECT_THROW(FlashAddress(-1), std::out_of_range);
    EXPECT_THROW(FlashAddress(175), std::out_of_range);
}

TEST_F(FlashTable, LayoutRecordPlacesEveryFieldsGroupFromTheBase)
{
    constexpr uint32_t base = 0x200000;
    // Field k holds 0x1000 * k + k, so that every entry shows which field placed it.
    std::vector<uint8_t> raw(SDevVexa::kSize, 0xEE);
    auto offset = [](int k) { return 0x1000u * static_cast<uint32_t>(k) + static_cast<uint32_t>(k); };
    for (int k = 1; k <= 26; ++k) PutU32(raw.data() + 4 * (k - 1), offset(k));
    PutU32(raw.data() + 104, base);   // field 27
    PutU16(raw.data() + 116, 0xFFF0);  // field 30, zero-extended
    PutU16(raw.data() + 118, 0x8001);  // field 31
    const SDevVexa layout = SDevVexa::Decode(raw.data(), raw.size());
    EXPECT_EQ(layout.Base, base);
    EXPECT_EQ(layout.Unread[0], 0xEEEEEEEEu);

    uint32_t want[kFlashAddressCount];
    std::copy(std::begin(kDefaults), std::end(kDefaults), want);
    std::vector<int> placed(kFlashAddressCount, 0);
    for (const FieldRow& r : kFieldRows) {
        for (int i = 0; i < r.count; ++i) {
            want[r.first + i] = base + offset(r.field) + static_cast<uint32_t>(i) * r.stride;
            ++placed[static_cast<size_t>(r.first + i)];
        }
    }
    want[3] = base;
    want[173] = base + 0xFFF0;
    want[174] = base + 0x8001;
    for (int e : {3, 173, 174}) ++placed[static_cast<size_t>(e)];
    // The rows cover entry 3 and 31..174 once each, and nothing else.
    for (int e = 0; e < kFlashAddressCount; ++e)
        EXPECT_EQ(placed[static_cast<size_t>(e)], e == 3 || e >= 31 ? 1 : 0) << "entry " << e;

    TRurIvaQs_6x6::SetFlashAddress(&layout);  // what the command set offers acts on the one table
    for (int e = 0; e < kFlashAddressCount; ++e) EXPECT_EQ(FlashAddress(e), want[e]) << "entry " << e;

    // The example of the meter's documentation: base 0x100 and field 3 = 0x7AC0.
    PutU32(raw.data() + 8, 0x7AC0);
    PutU32(raw.data() + 104, 0x100);
    const SDevVexa example = SDevVexa::Decode(raw.data(), raw.size());
    SetFlashAddress(&example);
    EXPECT_EQ(FlashAddress(37), 0x7BC0u);
    EXPECT_EQ(FlashAddress(42), 0xD368u);

    TRurIvaQs_6x6::SetFlashAddressDefault();
    for (int e = 0; e < kFlashAddressCount; ++e) EXPECT_EQ(FlashAddress(e), kDefaults[e]) << "entry " << e;
}

TEST_F(FlashTable, ShortLayoutRecordIsRefused)
{
    std::vector<uint8_t> raw(SDevVexa::kSize - 1, 0);
    EXPECT_THROW(SDevVexa::Decode(raw.data(), raw.size()), std::invalid_argument);
    const auto before = FlashAddressTable();
    SetFlashAddress(nullptr);
    EXPECT_EQ(FlashAddressTable(), before);
}

}  // namespace
}  // namespace rv
