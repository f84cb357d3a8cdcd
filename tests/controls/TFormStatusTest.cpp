// Form state persistence through a real file: round trips, the restore rules, hostile files, the file's place.
#include <gtest/gtest.h>

#include "IniReadBack.h"
#include "controls/Errors.h"
#include "controls/TEDAdd.h"
#include "controls/TEditDigital.h"
#include "controls/TFormStatus.h"
#include "controls/TIniDocument.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace rv;
namespace fs = std::filesystem;

namespace {

class PortEdit : public QLineEdit {};  // a descendant of a matched class, without a meta-object of its own

// A window with one control of every kind, some on a panel as the designer places them.
struct Window {
    explicit Window(const char* name)
    {
        w->setObjectName(name);
        auto* panel = new QWidget(w.get());
        panel->setObjectName("Panel1");
        combo = new QComboBox(panel);
        combo->setObjectName("CBPortName");
        combo->addItems({"COM1", "COM2", "COM3", "COM4"});
        combo->setEditable(true);
        digital = new TEditDigital(panel);
        digital->setObjectName("EditDigital8");
        edit = new QLineEdit(w.get());
        edit->setObjectName("Edit1");
        spin = new QSpinBox(w.get());
        spin->setObjectName("CSpinEdit1");
        spin->setRange(-1000, 1000);
        typed = new TEDAdd(w.get());
        typed->setObjectName("EDAdd1");
        derived = new PortEdit;
        derived->setParent(w.get());
        derived->setObjectName("Derived1");
    }
    std::unique_ptr<QWidget> w = std::make_unique<QWidget>();
    QComboBox* combo;
    TEditDigital* digital;
    QLineEdit* edit;
    QSpinBox* spin;
    TEDAdd* typed;
    PortEdit* derived;
};

class TFormStatusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string tmpl = fs::temp_directory_path() / "rv-forms-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }

    SFormStatePlace Place(bool writable = true) const
    {
        return SFormStatePlace{dir + "/bench.v2/tool.exe", [writable](const std::string&) { return writable; },
                               dir + "/config"};
    }
    std::unique_ptr<TFormStatus> Status(std::initializer_list<QWidget*> forms, bool writable = true) const
    {
        fs::create_directories(dir + "/bench.v2");
        auto s = std::make_unique<TFormStatus>(nullptr, Place(writable));
        s->SetForms(QList<QWidget*>(forms));
        s->SP_Left = s->SP_Top = s->SP_Width = s->SP_Height = true;
        return s;
    }
    void WriteFile(const std::string& text) const
    {
        fs::create_directories(dir + "/bench.v2");
        std::ofstream(dir + "/bench.v2/tool_SP.ini", std::ios::binary) << text;
    }
    TIniDocument Saved() const
    {
        TIniDocument ini;
        EXPECT_TRUE(ini.LoadFile(dir + "/bench.v2/tool_SP.ini"));
        return ini;
    }

    std::string dir;
};

}  // namespace

TEST_F(TFormStatusTest, TwoWindowsMakeARoundTripThroughTheFile)
{
    Window main("FMain"), kfs("Form1");
    main.w->move(288, 171);
    main.w->resize(525, 484);
    kfs.w->move(768, 177);
    kfs.w->resize(408, 188);
    main.combo->setEditText("/dev/ttyUSB0");
    main.digital->setText("12.5");
    main.edit->setText("Иванов");
    main.spin->setValue(-42);
    main.typed->setText("99");
    main.derived->setText("no");
    kfs.combo->setCurrentIndex(2);
    auto status = Status({main.w.get(), kfs.w.get()});
    EXPECT_EQ(status->GetFileName(), dir + "/bench.v2/tool_SP.ini");  // the dot of the folder is not cut
    status->Value_CSpinEdit = status->Text_EditDigital = status->Text_ComboBox = status->Text_Edit = true;
    status->SaveSizePosition();

    // Matched by exact class: the typed value field, a subclassed edit and the spin box's own edit stay out.
    const TIniDocument ini = Saved();
    EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"FMain", "Form1"}));
    EXPECT_EQ(ini.Keys("FMain"), (std::vector<std::string>{"Left", "Top", "Width", "Height", "CSpinEdit1",
                                                           "EditDigital8", "Edit1", "CBPortName"}));

    Window main2("FMain"), kfs2("Form1");
    auto status2 = Status({main2.w.get(), kfs2.w.get()});
    status2->Value_CSpinEdit = status2->Text_EditDigital = status2->Text_ComboBox = status2->Text_Edit = true;
    status2->SetSizePosition();
    EXPECT_EQ(main2.w->pos(), QPoint(288, 171));
    EXPECT_EQ(main2.w->size(), QSize(525, 484));
    EXPECT_EQ(kfs2.w->pos(), QPoint(768, 177));
    EXPECT_EQ(kfs2.w->size(), QSize(408, 188));
    EXPECT_EQ(main2.combo->currentText(), "/dev/ttyUSB0");
    EXPECT_EQ(main2.digital->text(), "12.5");
    EXPECT_EQ(main2.edit->text(), "Иванов");
    EXPECT_EQ(main2.spin->value(), -42);
    EXPECT_EQ(kfs2.combo->currentText(), "COM3");
    EXPECT_EQ(main2.typed->text(), "");

    auto read = test::ReadWithConfigParser(status->GetFileName(), dir);
    if (!read) GTEST_SKIP() << "python3 is not available";
    EXPECT_EQ(*read,
              "FMain|Left|288\nFMain|Top|171\nFMain|Width|525\nFMain|Height|484\nFMain|CSpinEdit1|-42\n"
              "FMain|EditDigital8|12.5\nFMain|Edit1|Иванов\nFMain|CBPortName|/dev/ttyUSB0\n"
              "Form1|Left|768\nForm1|Top|177\nForm1|Width|408\nForm1|Height|188\nForm1|CSpinEdit1|0\n"
              "Form1|EditDigital8|\nForm1|Edit1|\nForm1|CBPortName|COM3\n");
}

TEST_F(TFormStatusTest, OnlyPositionsAndSizesAboveZeroAreApplied)
{
    Window w("FMain");
    w.w->move(0, -20);
    auto status = Status({w.w.get()});
    status->SaveSizePosition();
    EXPECT_EQ(Saved().ReadString("FMain", "Left", ""), "0");
    EXPECT_EQ(Saved().ReadString("FMain", "Top", ""), "-20");

    WriteFile("[FMain]\nLeft=0\nTop=-5\nWidth=0\nHeight=300\n");
    w.w->move(50, 60);
    w.w->resize(200, 100);
    status->SetSizePosition();
    EXPECT_EQ(w.w->pos(), QPoint(50, 60));
    EXPECT_EQ(w.w->size(), QSize(200, 300));
}

TEST_F(TFormStatusTest, OneNameSharesASectionAndAWindowWithoutANameIsLeftOut)
{
    // Without an explicit list every top-level window of the application is covered.
    Window first("Twin"), second("Twin"), nameless("");
    first.edit->setText("one");
    second.edit->setText("two");
    nameless.edit->setText("unnamed");
    fs::create_directories(dir + "/bench.v2");
    TFormStatus status(nullptr, Place());
    status.Text_Edit = true;
    status.SaveSizePosition();
    const TIniDocument ini = Saved();
    EXPECT_EQ(ini.Sections(), std::vector<std::string>{"Twin"});
    const std::string kept = ini.ReadString("Twin", "Edit1", "");
    EXPECT_TRUE(kept == "one" || kept == "two") << kept;

    first.edit->clear();
    second.edit->clear();
    nameless.edit->setText("untouched");
    WriteFile("[Twin]\nEdit1=shared\n[]\nEdit1=nameless\n");
    status.SetSizePosition();
    EXPECT_EQ(first.edit->text(), "shared");
    EXPECT_EQ(second.edit->text(), "shared");
    EXPECT_EQ(nameless.edit->text(), "untouched");
}

TEST_F(TFormStatusTest, IndexModeTurnsTextModeOffUntilItIsSetAgain)
{
    Window w("FMain");
    w.combo->setCurrentIndex(3);
    auto status = Status({w.w.get()});
    status->Text_ComboBox = true;
    status->SetIndex_ComboBox(true);
    EXPECT_FALSE(status->Text_ComboBox);
    status->SaveSizePosition();
    EXPECT_EQ(Saved().ReadInteger("FMain_index", "CBPortName", -9), 3);
    EXPECT_FALSE(Saved().ReadString("FMain", "CBPortName").has_value());

    status->Text_ComboBox = true;
    status->SaveSizePosition();
    EXPECT_EQ(Saved().ReadString("FMain", "CBPortName", ""), "COM4");

    // A missing index selects the first item.
    WriteFile("[FMain]\nLeft=5\n");
    status->Text_ComboBox = false;
    status->SetSizePosition();
    EXPECT_EQ(w.combo->currentIndex(), 0);
}

TEST_F(TFormStatusTest, AHostileFileRestoresWhatItCanAndNamesTheBadValue)
{
    Window a("FMain"), b("Form1");
    a.edit->setText("keep");
    a.spin->setValue(7);
    b.spin->setValue(8);
    std::string text = "[FMain]\nLeft=xyz\nTop=250\nWidth=99999999999\n";
    text += std::string("junk\x00\x01\xFF=1\n", 10);
    text += "Edit1=NULL\nCSpinEdit1=12abc\nEditDigital8=" + std::string(200000, '9') + "\n";
    text += "CBPortName=COM2\n[FMain_index]\nCBPortName=999\n[Form1]\nCSpinEdit1=-3\nEdit1=\xCF\xEE\xF0\xF2\n";
    WriteFile(text);
    auto status = Status({a.w.get(), b.w.get()});
    status->Value_CSpinEdit = status->Text_EditDigital = status->Text_ComboBox = status->Text_Edit = true;
    a.w->move(40, 40);
    try {
        status->SetSizePosition();
        FAIL() << "the bad spin value was not reported";
    } catch (const EConversionError& e) {
        EXPECT_NE(std::string(e.what()).find("12abc"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("CSpinEdit1"), std::string::npos) << e.what();
    }
    EXPECT_EQ(a.w->pos(), QPoint(40, 250));
    EXPECT_EQ(a.spin->value(), 7);
    EXPECT_EQ(a.edit->text(), "keep");  // a stored "NULL" is no value
    EXPECT_EQ(a.digital->text(), "");   // the over-long line was not taken
    EXPECT_EQ(a.combo->currentText(), "COM2");
    EXPECT_EQ(b.spin->value(), -3);  // the window after the bad value is restored too
    EXPECT_EQ(b.edit->text(), "Порт");

    status->SetIndex_ComboBox(true);
    EXPECT_THROW(status->SetSizePosition(), EConversionError);
    EXPECT_EQ(a.combo->currentIndex(), -1);  // an index past the items selects none
}

TEST_F(TFormStatusTest, AnUnwritableProgramFolderSendsTheFileToTheUserConfiguration)
{
    Window w("FMain");
    w.w->move(10, 20);
    auto status = Status({w.w.get()}, false);
    EXPECT_EQ(status->GetFileName(), dir + "/config/rivanta/tool_SP.ini");
    status->SaveSizePosition();
    EXPECT_FALSE(fs::exists(dir + "/bench.v2/tool_SP.ini"));
    TIniDocument ini;
    ASSERT_TRUE(ini.LoadFile(dir + "/config/rivanta/tool_SP.ini"));
    EXPECT_EQ(ini.ReadInteger("FMain", "Left", 0), 10);

    // Nothing asked for, nothing written.
    TFormStatus idle(nullptr, Place());
    idle.SetForms({w.w.get()});
    idle.SaveSizePosition();
    EXPECT_FALSE(fs::exists(dir + "/bench.v2/tool_SP.ini"));
}
