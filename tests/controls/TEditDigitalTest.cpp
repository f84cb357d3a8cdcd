// The numeric edit and the typed value field as widgets: typed keys reach the filter, program text does not.
#include <gtest/gtest.h>

#include "controls/Errors.h"
#include "controls/TEDAdd.h"
#include "controls/TEditDigital.h"
#include "core/Locale.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

#include <string>
#include <vector>

using namespace rv;

namespace {

class TEditDigitalWidget : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDecimalSeparator('.');
        edit.SetErrorDisplay([this](const std::string& m) { errors.push_back(m); });
    }
    void TearDown() override { SetDecimalSeparator(0); }
    void Flow(long double min, long double max)
    {
        edit.SetDigitalType(deFloat);
        edit.SetControlOfRange(true);
        edit.SetMinValue(min);
        edit.SetMaxValue(max);
    }

    TEditDigital edit;
    std::vector<std::string> errors;
};

}  // namespace

TEST_F(TEditDigitalWidget, TypedKeysGiveTheTextTheFilterDecided)
{
    Flow(0.5L, 100);
    QTest::keyClicks(&edit, "200");
    EXPECT_EQ(edit.text(), "20");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClicks(&edit, ",.5x");
    EXPECT_EQ(edit.text(), "2.5");

    // The separator is the locale's at the moment of the key.
    SetDecimalSeparator(',');
    edit.clear();
    QTest::keyClicks(&edit, "1.5");
    EXPECT_EQ(edit.text(), "1,5");

    edit.SetDigitalType(deHex);
    edit.clear();
    QTest::keyClicks(&edit, "fGF9");
    EXPECT_EQ(edit.text(), "fF9");
    EXPECT_TRUE(errors.empty());
}

TEST_F(TEditDigitalWidget, WholeSelectionIsReplacedAndAPartOneIsNotConsidered)
{
    edit.SetDigitalType(deDecimal);
    edit.SetControlOfRange(true);
    edit.SetMaxValue(10);
    edit.setText("55");
    edit.selectAll();
    QTest::keyClick(&edit, '7');
    EXPECT_EQ(edit.text(), "7");
    edit.setText("55");
    edit.setSelection(0, 1);
    QTest::keyClick(&edit, '7');  // "557" is out of range
    EXPECT_EQ(edit.text(), "55");
}

TEST_F(TEditDigitalWidget, AConversionErrorReachesTheDisplayAndInsertsNothing)
{
    Flow(-100, 100);
    QTest::keyClicks(&edit, "1-5");
    EXPECT_EQ(edit.text(), "1-");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("\"1-5\""), std::string::npos) << errors[0];
}

TEST_F(TEditDigitalWidget, ProgramTextAndPastedTextAreNotFiltered)
{
    Flow(0.5L, 100);
    edit.setText("abc");
    EXPECT_EQ(edit.text(), "abc");
    QApplication::clipboard()->setText("-7e3");
    edit.clear();
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), "-7e3");
    // Navigation keys still work: Home, then a digit lands at the front as the edit decides.
    edit.setText("5");
    QTest::keyClick(&edit, Qt::Key_Home);
    QTest::keyClick(&edit, '1');
    EXPECT_EQ(edit.text(), "15");
}

TEST(TEDAddWidget, ShowsAndReadsBackThroughItsTypeAndKeepsTheFilter)
{
    TEDAdd field;
    field.SetInAdd(10);
    field.EDValueIn(static_cast<unsigned char>(250));
    EXPECT_EQ(field.text(), "4");
    field.SetOutAdd(-10);
    unsigned char raw = 0;
    field.EDValueOut(&raw);
    EXPECT_EQ(raw, 250);

    field.setText("12,5");
    int kept = 3;
    EXPECT_THROW(field.EDValueOut(&kept), EConversionError);
    EXPECT_EQ(kept, 3);

    field.clear();
    field.SetDigitalType(deSerial);
    QTest::keyClicks(&field, "4x-2");
    EXPECT_EQ(field.text(), "42");
}
