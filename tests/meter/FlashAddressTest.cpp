// The program-wide flash address table: its defaults, recomputation from a layout record, and
// restoring the defaults.
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "meter/FlashAddress.h"
#include "protocol/Frame.h"

namespace rv {
namespace {

class FlashTable : public ::testing::Test {
protected:
    ~FlashTable() override { SetFlashAddressDefault(); }
};

// Runs first in this executable by name order of the suite; the defaults hold before any change.
TEST_F(FlashTable, DefaultsHoldFromStaticInitialisation)
{
    EXPECT_EQ(FlashAddress(0), 0u);
    EXPECT_EQ(FlashAddress(1), 1u);
    EXPECT_EQ(FlashAddress(2), 0x10u);
    EXPECT_EQ(FlashAddress(3), 0x100u);
    EXPECT_EQ(FlashAddress(4), 0x300u);
    EXPECT_EQ(FlashAddress(9), 0xD00u);
    EXPECT_EQ(FlashAddress(16), 0xF00u + 6 * 0x20u);
    EXPECT_EQ(FlashAddress(25), 0x1400u + 5 * 0x200u);
    EXPECT_EQ(FlashAddress(96), 0x42A50u + 5 * 0x528u);
    EXPECT_EQ(FlashAddress(114), 0x4E708u);
    EXPECT_EQ(FlashAddress(164), 0x690E8u + 7 * 0x948u);
    EXPECT_EQ(FlashAddress(172), 0x6DB28u + 7 * 0x948u);
    EXPECT_EQ(FlashAddress(173), 0x72568u);
    EXPECT_EQ(FlashAddress(174), 0x74458u);
    EXPECT_THROW(FlashAddress(-1), std::out_of_range);
    EXPECT_THROW(FlashAddress(175), std::out_of_range);
}

TEST_F(FlashTable, LayoutRecordMovesEveryRegionFromTheBase)
{
    // Field k holds 0x10000 * k so that each group shows where it came from.
    std::vector<uint8_t> raw(SDevVexa::kSize, 0xEE);
    for (int k = 1; k <= 26; ++k) PutU32(raw.data() + 4 * (k - 1), 0x10000u * static_cast<uint32_t>(k));
    PutU32(raw.data() + 4 * 2, 0x7AC0);  // field 3
    PutU32(raw.data() + 104, 0x100);     // base
    PutU16(raw.data() + 116, 0xFFF0);    // zero-extended
    PutU16(raw.data() + 118, 0x1234);
    const SDevVexa layout = SDevVexa::Decode(raw.data(), raw.size());
    EXPECT_EQ(layout.Base, 0x100u);
    EXPECT_EQ(layout.Unread[0], 0xEEEEEEEEu);

    const auto before = FlashAddressTable();
    SetFlashAddress(&layout);
    EXPECT_EQ(FlashAddress(37), 0x7BC0u);
    EXPECT_EQ(FlashAddress(42), 0xD368u);
    EXPECT_EQ(FlashAddress(3), 0x100u);
    for (int e = 0; e <= 30; ++e) {
        if (e == 3) continue;
        EXPECT_EQ(FlashAddress(e), before[static_cast<size_t>(e)]) << "entry " << e;
    }
    EXPECT_EQ(FlashAddress(155), 0x100u + 0x10000u);
    EXPECT_EQ(FlashAddress(36), 0x100u + 0x20000u + 5 * 0x948u);
    EXPECT_EQ(FlashAddress(164), 0x100u + 0xC0000u + 7 * 0x948u);
    EXPECT_EQ(FlashAddress(152), 0x100u + 0xD0000u + 0x1188u);
    EXPECT_EQ(FlashAddress(156), 0x100u + 0xE0000u);
    EXPECT_EQ(FlashAddress(96), 0x100u + 0xF0000u + 5 * 0x528u);
    EXPECT_EQ(FlashAddress(150), 0x100u + 0x180000u + 5 * 0x948u);
    EXPECT_EQ(FlashAddress(172), 0x100u + 0x190000u + 7 * 0x948u);
    EXPECT_EQ(FlashAddress(154), 0x100u + 0x1A0000u + 0x948u);
    EXPECT_EQ(FlashAddress(173), 0x100u + 0xFFF0u);
    EXPECT_EQ(FlashAddress(174), 0x100u + 0x1234u);

    SetFlashAddressDefault();
    EXPECT_EQ(FlashAddressTable(), before);
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
