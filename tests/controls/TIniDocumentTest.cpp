// The INI reader and writer: what it takes from damaged text, what it refuses to write, the file on disk.
#include <gtest/gtest.h>

#include "IniReadBack.h"
#include "controls/Errors.h"
#include "controls/TIniDocument.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace rv;
namespace fs = std::filesystem;

namespace {

class TIniFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string tmpl = fs::temp_directory_path() / "rv-ini-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const char* name) const { return dir + "/" + name; }
    std::string dir;
};

std::string Slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

TEST(TIniDocument, ReadsTheCommonFormatLikeTheProfileFunctions)
{
    TIniDocument ini;
    ini.Parse("; state\r\nStray=1\r\n[FMain]\r\nLeft = 288 \r\n left=5\r\nCBPortName=COM3\r\n"
              "[fmain]\r\nTop=171\r\nWidth=\r\n[Other]  trailing\r\nx=a=b\r\n");
    EXPECT_EQ(ini.ReadInteger("FMAIN", "LEFT", 0), 288);  // case-blind, the first of a repeated key
    EXPECT_EQ(ini.ReadInteger("FMain", "Top", 0), 171);   // a repeated section adds to the first
    EXPECT_EQ(ini.ReadString("FMain", "CBPortName", "NULL"), "COM3");
    EXPECT_EQ(ini.ReadString("FMain", "Width", "NULL"), "");
    EXPECT_EQ(ini.ReadString("FMain", "Height", "NULL"), "NULL");
    EXPECT_EQ(ini.ReadString("Other", "x", ""), "a=b");
    EXPECT_FALSE(ini.ReadString("", "Stray").has_value());
    EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"FMain", "Other"}));
    // Comments survive a rewrite; the key above every section does not.
    EXPECT_EQ(ini.Text(), "; state\n\n[FMain]\nLeft=288\nCBPortName=COM3\nTop=171\nWidth=\n\n[Other]\nx=a=b\n");

    EXPECT_EQ(ini.ReadInteger("FMain", "CBPortName", -3), -3);
    ini.Parse("[a]\nn= 42 \nbig=2147483648\nneg=-2147483648\nhalf=1.5\n");
    EXPECT_EQ(ini.ReadInteger("a", "n", 0), 42);
    EXPECT_EQ(ini.ReadInteger("a", "big", 7), 7);
    EXPECT_EQ(ini.ReadInteger("a", "neg", 7), -2147483647 - 1);
    EXPECT_EQ(ini.ReadInteger("a", "half", 7), 7);
}

TEST(TIniDocument, DamagedTextYieldsWhatCanBeRead)
{
    std::string text = "\xEF\xBB\xBF[W]\nA=1\n";
    text += std::string("B=\x01\x02\x00\xFF", 7) + "\n";       // binary bytes: the line is dropped
    text += "C=" + std::string(TIniDocument::kMaxLineLength, 'x') + "\n";  // too long: dropped
    text += "[unclosed\nD=lost\n";                                  // keys under a broken header are dropped
    text += "[W]\nE=\xCF\xF0\xE8\xE2\xE5\xF2\n";                    // code page 1251 is decoded
    text += "[\xD0\x9E\xD0\xBA\xD0\xBD\xD0\xBE]\nF=1\n";            // a name other readers fold differently
    text += "[W]\nG:H=2\n=3\nno equals sign\n";
    TIniDocument ini;
    ini.Parse(text);
    EXPECT_EQ(ini.Sections(), std::vector<std::string>{"W"});
    EXPECT_EQ(ini.Keys("W"), (std::vector<std::string>{"A", "E"}));
    EXPECT_EQ(ini.ReadString("W", "E", ""), "Привет");

    // Past the size bound only whole lines are taken: a cut "Width=1234" must not come back as "Width=12".
    std::string big = "[W]\n";
    while (big.size() < TIniDocument::kMaxFileSize - 8) big += "; padding padding padding\n";
    big.resize(TIniDocument::kMaxFileSize - 8, ';');
    big += "\nWidth=1234\n";
    ini.Parse(big);
    EXPECT_FALSE(ini.ReadString("W", "Width").has_value());
}

TEST(TIniDocument, WrittenValuesCannotBreakTheFormat)
{
    TIniDocument ini;
    EXPECT_TRUE(ini.WriteString("A", "k", "x\r\n[B]\nLeft=5"));
    EXPECT_TRUE(ini.WriteString("A", "pad", "  spaced  "));
    for (const char* bad : {"", "a=b", "a:b", "[a", "a]", ";a", "#a", " a", "Окно", "a\nb"}) {
        EXPECT_FALSE(ini.WriteString(bad, "k", "v")) << bad;
        EXPECT_FALSE(ini.WriteString("A", bad, "v")) << bad;
    }
    EXPECT_TRUE(ini.WriteString("A", "huge", std::string(TIniDocument::kMaxLineLength, 'z') + "ЖЖЖ"));
    EXPECT_TRUE(ini.WriteString("A", "bytes", "\xC0\xC1"));  // not UTF-8: taken as code page 1251

    TIniDocument back;
    back.Parse(ini.Text());
    EXPECT_EQ(back.Sections(), std::vector<std::string>{"A"});
    EXPECT_EQ(back.ReadString("A", "k", ""), "x  [B] Left=5");
    EXPECT_EQ(back.ReadString("A", "pad", ""), "spaced");
    EXPECT_EQ(back.ReadString("A", "bytes", ""), "АБ");
    // What was stored is what comes back, and the text is stable under a second round.
    EXPECT_EQ(back.ReadString("A", "huge", ""), ini.ReadString("A", "huge", "?"));
    EXPECT_EQ(back.Text(), ini.Text());
}

TEST_F(TIniFileTest, SavedWholeAndReadBackByAnIndependentReader)
{
    TIniDocument ini;
    ini.WriteInteger("FMain", "Left", 288);
    ini.WriteString("FMain", "CBPortName", "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0");
    ini.WriteString("FMain", "Percent", "50% = half; #not a comment");
    ini.WriteString("FMain_index", "CBPortName", "Порт №2");
    ini.WriteString("FMain", "multi", "line1\nline2");
    const std::string path = Path("tool_SP.ini");
    ini.SaveFile(path);
    EXPECT_EQ(Slurp(path), ini.Text());
    for (const auto& e : fs::directory_iterator(dir)) EXPECT_EQ(e.path().filename(), "tool_SP.ini");

    TIniDocument again;
    ASSERT_TRUE(again.LoadFile(path));
    EXPECT_EQ(again.Text(), ini.Text());

    auto read = test::ReadWithConfigParser(path, dir);
    if (!read) GTEST_SKIP() << "python3 is not available";
    EXPECT_EQ(*read,
              "FMain|Left|288\n"
              "FMain|CBPortName|/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0\n"
              "FMain|Percent|50% = half; #not a comment\n"
              "FMain|multi|line1 line2\n"
              "FMain_index|CBPortName|Порт №2\n");
}

TEST_F(TIniFileTest, AFailedSaveLeavesTheOldFileAndNoLeftovers)
{
    const std::string path = Path("state_SP.ini");
    std::ofstream(path) << "[Keep]\nA=1\n";
    ::chmod(path.c_str(), 0640);
    TIniDocument ini;
    ini.WriteString("New", "B", "2");
    ini.SaveFile(path);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // a replaced file keeps its permissions

    // A folder where the file should be: the rename fails and the new file is removed again.
    const std::string blocked = Path("blocked_SP.ini");
    fs::create_directory(blocked);
    EXPECT_THROW(ini.SaveFile(blocked), EFileError);
    EXPECT_THROW(ini.SaveFile(Path("missing/x_SP.ini")), EFileError);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    EXPECT_EQ(Slurp(path), "[New]\nB=2\n");
}

TEST_F(TIniFileTest, LoadingSomethingThatIsNoFileNeitherBlocksNorFails)
{
    TIniDocument ini;
    ini.WriteString("A", "b", "c");
    EXPECT_FALSE(ini.LoadFile(Path("absent.ini")));
    EXPECT_TRUE(ini.Sections().empty());
    const std::string fifo = Path("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ini.LoadFile(fifo));  // a pipe with no writer would hold a blocking open for ever
    EXPECT_FALSE(ini.LoadFile(dir));
}
