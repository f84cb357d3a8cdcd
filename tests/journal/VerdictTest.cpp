// The verdict from the printed figures, against points worked out by hand, the boundary included, and the
// points read back from the reference protocols.
#include "JournalTestSupport.h"

#include "journal/ProtocolPoints.h"
#include "journal/Verdict.h"

namespace rv::journal::test {
namespace {

EPointVerdict Judge(const std::string& relative, const std::string& allowed)
{
    return JudgePoint(Point(EDirection::Forward, "1", "1", "1", relative, allowed));
}

TEST(Verdict, PointsWorkedOutByHand)
{
    // set 2,0000, measured 1,9700: (2 - 1,97) / 2 * 100 = 1,500 against 1,5 - on the boundary, passes.
    EXPECT_EQ(Judge("1,500", "1,5"), EPointVerdict::Pass);
    // set 0,2000, measured 0,2100: -5,000 against 5,0 passes; measured 0,2101: -5,050 fails.
    EXPECT_EQ(Judge("-5,000", "5,0"), EPointVerdict::Pass);
    EXPECT_EQ(Judge("-5,050", "5,0"), EPointVerdict::Fail);
    // set 12,1436, measured 12,3258: -1,500 (rounded from -1,5004) passes as printed.
    EXPECT_EQ(Judge("-1,500", "1,5"), EPointVerdict::Pass);
    EXPECT_EQ(Judge("1,501", "1,5"), EPointVerdict::Fail);
    EXPECT_EQ(Judge("-1,501", "1,5"), EPointVerdict::Fail);
    EXPECT_EQ(Judge("0,000", "1,5"), EPointVerdict::Pass);
    EXPECT_EQ(Judge("-0,000", "0,0"), EPointVerdict::Pass);
    EXPECT_EQ(Judge("0,001", "0,0"), EPointVerdict::Fail);
}

TEST(Verdict, PrintedDigitsComparedExactlyWithEitherSeparator)
{
    EXPECT_EQ(Judge("1.50", "1,5"), EPointVerdict::Pass);
    EXPECT_EQ(Judge(" +1,5 ", "1.5"), EPointVerdict::Pass);
    EXPECT_EQ(Judge("001,5000", "1,5"), EPointVerdict::Pass);
    EXPECT_EQ(Judge("12", "12,0"), EPointVerdict::Pass);
    EXPECT_EQ(Judge(",5", "0,5"), EPointVerdict::Pass);
    // Past what a double tells apart: the digits still decide.
    EXPECT_EQ(Judge("1,50000000000000000001", "1,5"), EPointVerdict::Fail);
    EXPECT_EQ(Judge("1,49999999999999999999", "1,5"), EPointVerdict::Pass);
    EXPECT_EQ(Judge("123456789012345678901234567890,5", "123456789012345678901234567890,4"), EPointVerdict::Fail);
    EXPECT_EQ(Judge("9,9", "10,0"), EPointVerdict::Pass);
    EXPECT_EQ(Judge("10,0", "9,99"), EPointVerdict::Fail);
}

TEST(Verdict, FiguresThatAreNotNumbersFailAndMissingOnesAreNotChecked)
{
    for (const char* bad : {"1.#INF", "nan", "1,2,3", "--1", "1e3", "1 5", "-", ",", "١"})
        EXPECT_EQ(Judge(bad, "1,5"), EPointVerdict::Fail) << bad;
    EXPECT_EQ(Judge("0,1", "-1,5"), EPointVerdict::Fail);
    EXPECT_EQ(Judge("", "1,5"), EPointVerdict::NotChecked);
    EXPECT_EQ(Judge("0,1", ""), EPointVerdict::NotChecked);
    SVerificationPoint refused = Point(EDirection::Forward, "100", "", "", "", "");
    refused.NotCheckedReason = "Расход не покрывается таблицей";
    EXPECT_EQ(JudgePoint(refused), EPointVerdict::NotChecked);
}

TEST(Verdict, RunPassesOnlyCompletedWithEveryPointOfEverySeries)
{
    const std::vector<SVerificationPoint> pass = SamplePoints();
    EXPECT_EQ(JudgeRun(pass, true, false, "").State, ERunState::Passed);
    EXPECT_EQ(JudgeRun(pass, true, false, "").Outcome, "");

    const SVerdict stopped = JudgeRun(pass, false, false, "Связь со счетчиком потеряна");
    EXPECT_EQ(stopped.State, ERunState::Stopped);
    EXPECT_EQ(stopped.Outcome, "Связь со счетчиком потеряна");
    EXPECT_EQ(JudgeRun(pass, false, false, "").Outcome, "поверка остановлена");

    auto failing = pass;
    failing.push_back(Point(EDirection::Reverse, "0,1200", "0,1144", "0,1203", "-5,157", "5,0"));
    SVerificationPoint refused = Point(EDirection::Reverse, "100", "", "", "", "");
    refused.NotCheckedReason = "Расход не покрывается таблицей";
    failing.push_back(refused);
    const SVerdict failed = JudgeRun(failing, true, true, "");
    EXPECT_EQ(failed.State, ERunState::Failed);
    EXPECT_EQ(failed.Outcome,
              "не прошли поверку: обратное направление, 0,1200 м3/ч: погрешность -5,157% при допустимой 5,0%; "
              "обратное направление, 100 м3/ч: точка не проверена (Расход не покрывается таблицей)");

    EXPECT_EQ(JudgeRun({}, true, false, "").State, ERunState::Failed);
    const SVerdict noReverse = JudgeRun(pass, true, true, "");
    EXPECT_EQ(noReverse.State, ERunState::Failed);
    EXPECT_NE(noReverse.Outcome.find("обратное направление не проверено"), std::string::npos);
}

TEST(ProtocolPoints, ReferenceProtocolsReadBackWithTheirDirections)
{
    const auto forward = ParseProtocolPoints(ReferenceProtocol("one-path-forward.txt"), false);
    ASSERT_EQ(forward.size(), 4u);
    EXPECT_EQ(forward[0].Nominal, "12,0000");
    EXPECT_EQ(forward[0].Set, "12,1436");
    EXPECT_EQ(forward[0].Measured, "12,1436");
    EXPECT_EQ(forward[0].RelativeError, "0,000");
    EXPECT_EQ(forward[0].AllowedError, "1,5");
    EXPECT_EQ(forward[3].AllowedError, "5,0");
    for (const auto& p : forward) EXPECT_EQ(p.Direction, EDirection::Forward);

    const auto both = ParseProtocolPoints(ReferenceProtocol("one-path-reverse-extra.txt"), true);
    ASSERT_EQ(both.size(), 8u);
    EXPECT_EQ(both[0].Set, "19,9669");  // the pattern pairs after the unit are not part of the figure
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(both[i].Direction, i < 4 ? EDirection::Forward : EDirection::Reverse);
    EXPECT_EQ(JudgeRun(both, true, true, "").State, ERunState::Passed);

    const auto three = ParseProtocolPoints(ReferenceProtocol("three-path-reverse.txt"), true);
    ASSERT_EQ(three.size(), 8u);
    EXPECT_EQ(three[4].Direction, EDirection::Reverse);
    EXPECT_EQ(three[1].RelativeError, "-0,002");
    EXPECT_EQ(ParseProtocolPoints(ReferenceProtocol("three-path-forward-extra.txt"), false).size(), 5u);
}

TEST(ProtocolPoints, RefusedAndUnfinishedPointsCrLfAndBound)
{
    const std::string text =
        "Серийный номер счетчика №21345\r\n\r\n"
        "Номинальное значение расхода 100м3/ч\r\n"
        "Точка не проверена: Расход не покрывается таблицей\r\n\r\n"
        "Номинальное значение расхода 1,2000м3/ч\r\n"
        "Задаваемое значение расхода 1,2592м3/ч \r\n"
        "Измеренное значение расхода 1,2600м3/ч\r\n"
        "Относительная погрешность измерения -0,064%\r\n"
        "Допустимая погрешность измерения 1,5%\r\n\r\n"
        "Номинальное значение расхода 0,2400м3/ч\r\n"
        "Задаваемое значение расхода 0,2288м3/ч \r\n";
    const auto points = ParseProtocolPoints(text, false);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[0].Nominal, "100");
    EXPECT_EQ(points[0].NotCheckedReason, "Расход не покрывается таблицей");
    EXPECT_EQ(points[0].Verdict, EPointVerdict::NotChecked);
    EXPECT_EQ(points[1].Measured, "1,2600");
    EXPECT_EQ(points[1].RelativeError, "-0,064");
    EXPECT_EQ(points[1].Verdict, EPointVerdict::Pass);
    EXPECT_EQ(points[2].Set, "0,2288");
    EXPECT_EQ(points[2].Measured, "");
    EXPECT_EQ(points[2].Verdict, EPointVerdict::NotChecked);

    std::string many;
    for (int i = 0; i < 1000; ++i) many += "Номинальное значение расхода 1м3/ч\n";
    EXPECT_EQ(ParseProtocolPoints(many, true).size(), kMaxProtocolPoints);
    EXPECT_TRUE(ParseProtocolPoints("", true).empty());
}

}  // namespace
}  // namespace rv::journal::test
