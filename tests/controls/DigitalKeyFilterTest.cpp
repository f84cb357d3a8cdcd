// The key filter of the numeric edit, called as the widget calls it.
#include <gtest/gtest.h>

#include "controls/DigitalKeyFilter.h"
#include "controls/Errors.h"

#include <string>

using namespace rv;

namespace {

SDigitalSettings Format(TDigitalType type) { return SDigitalSettings{type, false, 0, 0}; }

SDigitalSettings Range(TDigitalType type, long double min, long double max)
{
    return SDigitalSettings{type, true, max, min};
}

// Types keys one by one at the end of the field, as a technician does, and returns what the field holds.
std::string Type(const std::string& keys, const SDigitalSettings& s, char sep = '.', std::string text = "")
{
    for (char k : keys) {
        const char key = FilterDigitalKey(text, 0, k, s, sep);
        if (key == 8) {
            if (!text.empty()) text.pop_back();
        } else if (key) {
            text.push_back(key);
        }
    }
    return text;
}

}  // namespace

TEST(DigitalKeyFilter, EachFormatTakesOnlyItsCharacters)
{
    EXPECT_EQ(Type("12-3.a4", Format(deSerial)), "1234");
    EXPECT_EQ(Type("-5-6.", Format(deDecimal)), "-56");
    EXPECT_EQ(Type("-", Format(deDecimal), '.', "5"), "5");
    EXPECT_EQ(Type("09afAFgG-.", Format(deHex)), "09afAF");
    EXPECT_EQ(Type("1-2.3e", Format(deFloat)), "1-2.3");
    // Nothing outside the codes 8 to 102: tab, 'g', delete, a byte of a UTF-8 letter.
    for (char k : {'\t', 'g', '\x7F', '\xD0'}) EXPECT_EQ(FilterDigitalKey("", 0, k, Format(deHex), '.'), 0) << int(k);
}

TEST(DigitalKeyFilter, FloatTakesEitherSeparatorKeyAsTheLocaleOneAndOnlyOnce)
{
    EXPECT_EQ(Type("1,5", Format(deFloat), '.'), "1.5");
    EXPECT_EQ(Type("1.5", Format(deFloat), ','), "1,5");
    EXPECT_EQ(Type("1.2,3", Format(deFloat), '.'), "1.23");
    EXPECT_EQ(Type(".", Format(deFloat), ',', "2,5"), "2,5");
}

TEST(DigitalKeyFilter, BackspaceIsAlwaysAccepted)
{
    for (TDigitalType t : {deSerial, deDecimal, deHex, deFloat}) {
        EXPECT_EQ(FilterDigitalKey("7", 0, '\b', Format(t), '.'), '\b');
        EXPECT_EQ(FilterDigitalKey("7", 1, '\b', Range(t, 50, 60), '.'), '\b');
        EXPECT_EQ(FilterDigitalKey("1-", 0, '\b', Range(t, 0, 1), '.'), '\b');
    }
}

TEST(DigitalKeyFilter, RangeIsTestedOnTheTextWithTheKeyAppended)
{
    const auto flow = Range(deFloat, 0.5L, 100);
    EXPECT_EQ(Type("200", flow), "20");
    EXPECT_EQ(Type("9", flow, '.', "10"), "10");
    // A leading zero is below the lower bound, so 0.5 cannot be typed from the start ...
    EXPECT_EQ(Type("0.5", flow), ".5");
    // ... while the separator and the minus sign skip the test.
    EXPECT_EQ(Type("-", flow), "-");

    // Bounds left at 0 let only zeros through.
    for (char d = '1'; d <= '9'; ++d) EXPECT_EQ(FilterDigitalKey("", 0, d, Range(deSerial, 0, 0), '.'), 0);
    EXPECT_EQ(Type("000", Range(deSerial, 0, 0)), "000");

    // Hex fields are never range-tested.
    EXPECT_EQ(Type("FF", Range(deHex, 0, 0)), "FF");
}

TEST(DigitalKeyFilter, SelectionReplacesTheTextOnlyWhenItIsWhole)
{
    const auto s = Range(deDecimal, 0, 10);
    EXPECT_EQ(FilterDigitalKey("55", 2, '7', s, '.'), '7');  // "7" replaces all of "55"
    EXPECT_EQ(FilterDigitalKey("55", 1, '7', s, '.'), 0);    // the caret is not considered: "557"
    EXPECT_EQ(FilterDigitalKey("", 0, '7', s, '.'), '7');
}

TEST(DigitalKeyFilter, BoundsKeepTheirExtendedPrecision)
{
    // 0.1 as a double is above 0.1 as an extended value; the candidate must be compared in the bounds' precision.
    EXPECT_EQ(Type("0.1", Range(deFloat, 0, 0.1L)), "0.1");
    EXPECT_EQ(Type("1", Range(deFloat, 0, 0.1L), '.', "0.1"), "0.1");
}

TEST(DigitalKeyFilter, ACandidateThatIsNoNumberRaisesAConversionError)
{
    const auto s = Range(deFloat, -100, 100);
    EXPECT_EQ(Type("1-", s), "1-");
    try {
        FilterDigitalKey("1-", 0, '5', s, '.');
        FAIL() << "no conversion error";
    } catch (const EConversionError& e) {
        EXPECT_NE(std::string(e.what()).find("\"1-5\""), std::string::npos) << e.what();
    }
    // Without the range test nothing is converted.
    EXPECT_EQ(FilterDigitalKey("1-", 0, '5', Format(deFloat), '.'), '5');
}
