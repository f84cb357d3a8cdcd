// Code page 1251 at the edges and locale-aware number text.
#include <gtest/gtest.h>

#include "core/Cp1251.h"
#include "core/Locale.h"

using namespace rv;

TEST(Cp1251, RoundTripOfRussianTextAndBoundedDecode)
{
    const std::string utf8 = "Сохранение отчета №5";
    const std::string cp = ToCp1251(utf8);
    ASSERT_EQ(cp.size(), 20u);
    EXPECT_EQ(static_cast<unsigned char>(cp[0]), 0xD1);  // С
    EXPECT_EQ(static_cast<unsigned char>(cp[18]), 0xB9);  // №
    EXPECT_EQ(FromCp1251(cp), utf8);

    const char field[4] = {'\xC0', '\xC1', '\xC2', '\xC3'};  // no terminating zero: bounded by the field
    EXPECT_EQ(FromCp1251(field, sizeof field), "АБВГ");
    const char zero[6] = {'1', '2', 0, 'x', 'y', 'z'};
    EXPECT_EQ(FromCp1251(zero, sizeof zero), "12");
}

TEST(Cp1251, UnmappableAndBrokenInputBecomeQuestionMarks)
{
    EXPECT_EQ(ToCp1251("a\xE4\xB8\x80z"), "a?z");  // a CJK character
    EXPECT_EQ(ToCp1251("a\xFFz"), "a?z");          // not UTF-8
    EXPECT_EQ(FromCp1251(std::string("a\x98z")), "a?z");  // the one unassigned byte of the code page
}

TEST(Locale, SeparatorIsInjectableAndParsingAcceptsBoth)
{
    SetDecimalSeparator(',');
    EXPECT_EQ(FormatFixed(1.5, 3), "1,500");
    double v = 0;
    EXPECT_TRUE(ParseNumber("2,25", v));
    EXPECT_DOUBLE_EQ(v, 2.25);
    EXPECT_TRUE(ParseNumber(" 2.5 ", v));
    EXPECT_DOUBLE_EQ(v, 2.5);
    EXPECT_FALSE(ParseNumber("1-5", v));
    EXPECT_FALSE(ParseNumber("", v));
    SetDecimalSeparator('.');
    EXPECT_EQ(FormatFixed(-0.12345, 2), "-0.12");
    SetDecimalSeparator(0);
}
