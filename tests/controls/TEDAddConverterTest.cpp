// The typed value field's conversions: wrap-around in each integer width, offsets, float text, bad entries.
#include <gtest/gtest.h>

#include "controls/Errors.h"
#include "controls/TDateTimeQs.h"
#include "controls/TEDAddConverter.h"
#include "core/Locale.h"

#include <cstdint>

using namespace rv;

namespace {

class TEDAddConverterTest : public ::testing::Test {
protected:
    void SetUp() override { SetDecimalSeparator('.'); }
    void TearDown() override { SetDecimalSeparator(0); }
    TEDAddConverter c;
};

}  // namespace

TEST_F(TEDAddConverterTest, IntegerValuesWrapInTheirOwnWidth)
{
    c.SetInAdd(10);
    EXPECT_EQ(c.In(static_cast<unsigned char>(250)), "4");
    EXPECT_EQ(c.In(static_cast<signed char>(-6)), "4");  // 250 as a signed byte
    EXPECT_EQ(c.In(static_cast<signed char>(120)), "-126");
    EXPECT_EQ(c.In(static_cast<unsigned short>(65530)), "4");
    EXPECT_EQ(c.In(static_cast<short>(32760)), "-32766");
    EXPECT_EQ(c.In(2147483640), "-2147483646");
    c.SetInAdd(-1);
    EXPECT_EQ(c.In(0u), "-1");  // the unsigned sum is shown as the signed number of the same 32 bits
    c.SetInAdd(0);
    EXPECT_EQ(c.In(2147483647u), "2147483647");
    EXPECT_EQ(c.In(2147483648u), "-2147483648");

    short s = 0;
    c.Out("40000", &s);
    EXPECT_EQ(s, -25536);
    unsigned char uc = 0;
    c.Out("-1", &uc);
    EXPECT_EQ(uc, 255);
    unsigned int ui = 0;
    c.Out("-1", &ui);  // what the field shows for 4294967295 reads back as it
    EXPECT_EQ(ui, 4294967295u);
    c.Out("2147483647", &ui);
    EXPECT_EQ(ui, 2147483647u);
}

TEST_F(TEDAddConverterTest, OffsetsBeyond32BitsReachOnlyTheFloatingOverloads)
{
    const int64_t big = (int64_t{1} << 32) + 5;
    c.SetInAdd(big);
    c.SetOutAdd(big);
    EXPECT_EQ(c.In(1), "6");
    EXPECT_EQ(c.In(1u), "6");
    EXPECT_EQ(c.In(1.0), "4294967302");
    EXPECT_EQ(c.In(1.0f), "4294967302");
    int i = 0;
    c.Out("1", &i);
    EXPECT_EQ(i, 6);
    double d = 0;
    c.Out("1", &d);
    EXPECT_DOUBLE_EQ(d, 4294967302.0);
}

TEST_F(TEDAddConverterTest, FloatTextUsesTheSeparatorAndTheDigitRules)
{
    c.SetInAdd(2);
    c.SetFloatDigit(3);
    EXPECT_EQ(c.In(1.5), "3.500");
    SetDecimalSeparator(',');
    EXPECT_EQ(c.In(1.5), "3,500");
    SetDecimalSeparator('.');
    c.SetFloatDigit(0);
    EXPECT_EQ(c.In(1.5), "3.5");
    EXPECT_EQ(c.In(0.1f), "2.10000000149012");  // a float carries its binary value into the 15 digits

    EXPECT_EQ(TEDAddConverter::FormatFloat(1e20L, 0, '.'), "1e+20");
    // Fixed text holds at most 10 significant digits, padded with zeros to the decimals asked for.
    EXPECT_EQ(TEDAddConverter::FormatFloat(1234567.891234L, 7, '.'), "1234567.8910000");
    EXPECT_EQ(TEDAddConverter::FormatFloat(0.000123456789123L, 15, '.'), "0.000123456789100");
    EXPECT_EQ(TEDAddConverter::FormatFloat(-2.5L, 1, ','), "-2,5");
    // An integer part longer than the precision goes to exponent form.
    EXPECT_EQ(TEDAddConverter::FormatFloat(12345678901.0L, 2, '.'), "1.234567890e+10");
    EXPECT_EQ(TEDAddConverter::FormatFloat(9999999999.6L, 2, '.'), "1.000000000e+10");
}

TEST_F(TEDAddConverterTest, ABadEntryRaisesAndLeavesTheVariableUnwritten)
{
    int i = 77;
    for (const char* text : {"", "abc", "1.5", "12x", "2147483648", "-2147483649", "+-1", "99999999999999999999"}) {
        EXPECT_THROW(c.Out(text, &i), EConversionError) << text;
        EXPECT_EQ(i, 77) << text;
    }
    // An unsigned variable takes the same signed 32-bit range of text as every integer overload.
    unsigned int ui = 7;
    for (const char* text : {"2147483648", "4294967295", "4294967296", "-2147483649"}) {
        EXPECT_THROW(c.Out(text, &ui), EConversionError) << text;
        EXPECT_EQ(ui, 7u) << text;
    }

    float f = 1.25f;
    for (const char* text : {"x", "1e39", "inf", "nan", "1-5", "1e99999"}) {
        EXPECT_THROW(c.Out(text, &f), EConversionError) << text;
        EXPECT_EQ(f, 1.25f) << text;
    }
    double d = 2.5;
    EXPECT_THROW(c.Out("1e400", &d), EConversionError);
    EXPECT_EQ(d, 2.5);

    c.Out(" 1,5 ", &f);  // either separator and surrounding blanks are fine
    EXPECT_EQ(f, 1.5f);
    c.Out("+12", &i);
    EXPECT_EQ(i, 12);
}

TEST(TDateTimeQs, DefaultsAndMonthOffsets)
{
    TDateTimeQs dt;
    EXPECT_EQ(dt.GetCentury(), 20);
    EXPECT_TRUE(dt.GetShowCentury());
    EXPECT_FALSE(dt.GetShowSecond());
    const auto& m = dt.MonthOffsets();
    EXPECT_EQ(m[0], 0);
    EXPECT_EQ(m[1], 2678400);
    EXPECT_EQ(m[2], 5097600);
    EXPECT_EQ(m[11], 28857600);
    EXPECT_EQ(m[11] + 31 * 86400, 365 * 86400);
}
