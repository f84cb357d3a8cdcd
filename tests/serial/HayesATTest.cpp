// AT lines and replies as text: result codes, finding a command where the line really has it,
// the register-write test, and replies put together from pieces.
#include <gtest/gtest.h>

#include "serial/HayesAT.h"

using namespace rv;

TEST(HayesAT, ResultCodesOfTextAndNumericResults)
{
    EXPECT_EQ(ATResultToME("CONNECT 9600"), 1);
    EXPECT_EQ(ATResultToME("3"), 3);  // NO CARRIER
    EXPECT_EQ(ATResultToME("7"), 6);  // BUSY: numeric 5 has no entry, the rest move down
    EXPECT_EQ(ATResultToME("5"), 65535);
    EXPECT_EQ(ATResultToME("12"), 65535);
    EXPECT_EQ(ATResultToME("1234"), 65535);  // only the first three characters count
    EXPECT_EQ(ATResultToME("HELLO"), -1);
    EXPECT_EQ(ATResultToME(""), -1);
    EXPECT_EQ(ATResultToME("NO DIALTONE"), 5);
    EXPECT_EQ(ATResultToME("0"), 0);

    std::string s = "4";
    EXPECT_TRUE(ATShortToLong(s));
    EXPECT_EQ(s, "ERROR");
    s = "-1";
    EXPECT_TRUE(ATShortToLong(s));
    EXPECT_EQ(s, "UNKNOWN");
    s = "4a";
    EXPECT_FALSE(ATShortToLong(s));
    EXPECT_EQ(s, "4a");
}

TEST(HayesAT, CommandsAreFoundWhereTheLineHasThem)
{
    // Blanks and extended parameters before the command shift it in the line itself.
    EXPECT_EQ(ATQuietOff("ATQ1E0"), "ATQ0E0");
    EXPECT_EQ(ATQuietOff("AT E0 Q1 V1"), "AT E0 Q0 V1");
    EXPECT_EQ(ATQuietOff("AT+MS=11 Q1"), "AT+MS=11 Q0");
    EXPECT_EQ(ATQuietOff("ATQ1 Q1"), "ATQ0 Q0");
    EXPECT_EQ(ATQuietOff("atq1"), "atq0");
    EXPECT_EQ(ATQuietOff("AT&Q1"), "AT&Q1");       // another command
    EXPECT_EQ(ATQuietOff("ATDT 5Q1"), "ATDT 5Q1");  // a dial string
    EXPECT_EQ(ATQuietOff("Q1"), "Q1");             // no AT line

    EXPECT_EQ(ATCommandPos("AT E0 Q1", "Q1"), 7u);
    EXPECT_EQ(ATCommandPos("ATA", "A"), 3u);
    EXPECT_EQ(ATCommandPos("ATDT 123", "D"), 3u);
    EXPECT_EQ(ATCommandPos("ATX&C1&D2&K3M0", "D"), 0u);  // &D is not dialling
    EXPECT_EQ(ATCommandPos("ATO", "O"), 3u);
    EXPECT_EQ(ATCommandPos("ATH0", "H0"), 3u);
    EXPECT_EQ(ATCommandPos("A/", "A"), 0u);
}

TEST(HayesAT, RegisterWritesAreRecognised)
{
    for (const char* line : {"ATS7=60", "ats7=60", "ATE0S7=60", "AT S7 = 60", "ATS=5", "AT&FS0=1"})
        EXPECT_TRUE(ATWritesRegister(line)) << line;
    for (const char* line : {"ATS0?", "ATS7=", "ATS1234=5", "ATDT S7=60", "AT+MS=11,1,300,33600", "ATX&C1&D2&K3M0", ""})
        EXPECT_FALSE(ATWritesRegister(line)) << line;
}

TEST(HayesAT, RepliesAreAssembledFromPieces)
{
    std::string pending;
    THayesAT at;
    const auto noMore = [] { return false; };
    ASSERT_TRUE(ATAssembleReply(pending, "ATS0?\r\r002\r\rOK\r", "", noMore, at));
    EXPECT_EQ(at.Command, "ATS0?");
    EXPECT_EQ(at.Response, "002");
    EXPECT_EQ(at.ResultText, "OK");
    EXPECT_EQ(at.ResultCode, 0);
    EXPECT_TRUE(pending.empty());

    EXPECT_FALSE(ATAssembleReply(pending, "\r\nO", "ATZ", noMore, at));
    ASSERT_TRUE(ATAssembleReply(pending, "K\r\n", "ATZ", noMore, at));
    EXPECT_EQ(at.Command, "ATZ");  // no echo: the command sent
    EXPECT_EQ(at.ResultText, "OK");

    // Information lines joined with CR LF; leading control characters go.
    ASSERT_TRUE(ATAssembleReply(pending, "\x11\x13" "ATI\r\r\nline 1\r\nline 2\r\n\r\nOK\r\n", "", noMore, at));
    EXPECT_EQ(at.Command, "ATI");
    EXPECT_EQ(at.Response, "line 1\r\nline 2");

    // Numeric results, and a repeated command that has no text of its own.
    ASSERT_TRUE(ATAssembleReply(pending, "\r\n4\r", "A/", noMore, at));
    EXPECT_EQ(at.Command, "");
    EXPECT_EQ(at.ResultText, "4");
    EXPECT_EQ(at.ResultCode, 4);

    // A result line followed at once by more text is not the end yet.
    EXPECT_FALSE(ATAssembleReply(pending, "ATI3\r\r3\r", "ATI3", [] { return true; }, at));
    ASSERT_TRUE(ATAssembleReply(pending, "\rOK\r", "ATI3", noMore, at));
    EXPECT_EQ(at.Response, "3");
    EXPECT_EQ(at.ResultCode, 0);

    // Endless text without a result stays bounded.
    pending.clear();
    const std::string noise(3000, 'x');
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(ATAssembleReply(pending, noise + "\r", "AT", noMore, at));
    EXPECT_LE(pending.size(), ATMaxPending);
}
