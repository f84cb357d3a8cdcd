// The main window over its controller, driven in virtual time against the simulated meter on the in-memory
// line: the controls as laid out, every input reaching the controller and every view change painted back, the
// form state on show and close.
#include <gtest/gtest.h>

#include "MainRig.h"
#include "app/gui/TFMain.h"
#include "controls/TEditDigital.h"
#include "controls/TFormStatus.h"
#include "controls/TIniDocument.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <memory>

using namespace rv;
using namespace rv::test;
namespace fs = std::filesystem;

namespace {

class MainWindow : public ::testing::Test {
protected:
    MainWindow()
        : dir_(fs::temp_directory_path() / ("rivanta-gui-" + std::to_string(::getpid()))),
          place_{(dir_ / "rivanta").string(), [](const std::string&) { return true; }, dir_.string()}
    {
        fs::create_directories(dir_);
        window =
            std::make_unique<TFMain>(rig.ctl, rig.prompter, std::vector<std::string>{"/dev/ttyUSB0", "COM2"}, place_);
    }
    ~MainWindow() override
    {
        window.reset();
        fs::remove_all(dir_);
    }
    std::string StateFile() const { return (dir_ / "rivanta_SP.ini").string(); }
    QStringList MemoLines() const { return window->Memo1->toPlainText().split('\n'); }

    CommaSeparator comma;
    MainRig rig;
    fs::path dir_;
    SFormStatePlace place_;
    std::unique_ptr<TFMain> window;
};

}  // namespace

TEST_F(MainWindow, ControlsAreLaidOutWithTheirTextsAndStartStates)
{
    TFMain& w = *window;
    EXPECT_EQ(w.objectName(), "FMain");
    EXPECT_EQ(w.windowTitle(), "Rivanta");
    EXPECT_GE(w.width(), 525);
    EXPECT_EQ(w.height(), 484);
    EXPECT_EQ(w.font().pointSize(), 8);

    QStringList items;
    for (int i = 0; i < w.CBPortName->count(); ++i) items << w.CBPortName->itemText(i);
    // The ports present, in their order; no COM name without its port.
    EXPECT_EQ(items, QStringList({"/dev/ttyUSB0", "COM2"}));
    EXPECT_TRUE(w.CBPortName->isEditable());
    EXPECT_EQ(w.CBPortName->currentText(), "/dev/ttyUSB0");
    EXPECT_EQ(rig.ctl.View().CBPortNameText, "/dev/ttyUSB0");

    EXPECT_EQ(w.PageControl1->tabPosition(), QTabWidget::South);
    EXPECT_EQ(w.PageControl1->tabText(0), "Поверка");
    EXPECT_EQ(w.PageControl1->tabText(1), "Просмотр KFS");
    EXPECT_EQ(w.PageControl1->currentWidget(), w.TabSheet1);
    EXPECT_EQ(w.TabSheet2->objectName(), "TabSheet2");
    // Nothing has happened yet: the status line is empty, and the connect button says what it does.
    EXPECT_EQ(w.LStatus->text(), "");
    EXPECT_EQ(w.SBOpenClose->text(), "Установить соединение");
    EXPECT_EQ(w.ButtonStop->text(), "Стоп");
    EXPECT_FALSE(w.ButtonStop->isEnabled());

    EXPECT_TRUE(w.SBOpenClose->isCheckable());
    EXPECT_FALSE(w.SBOpenClose->isChecked());
    EXPECT_EQ(w.SBOpenClose->text(), "Установить соединение");
    EXPECT_EQ(w.ChBDopInfo->text(), "Вывод дополнительной информации");
    EXPECT_FALSE(w.ChBDopInfo->isChecked());
    EXPECT_FALSE(w.SpeedButton1->icon().isNull());
    EXPECT_FALSE(w.SpeedButton3->icon().isNull());
    EXPECT_TRUE(w.Memo1->isReadOnly());
    EXPECT_EQ(w.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    EXPECT_EQ(w.Label5->text(), "Требуемый расход");
    EXPECT_EQ(w.Button1->text(), "Поверка");
    EXPECT_EQ(w.Button1->geometry(), QRect(8, 24, 75, 25));
    EXPECT_FALSE(w.Button1->isEnabled());
    const int x[] = {120, 184, 248, 312, 372};
    for (size_t k = 0; k < w.EditDigital.size(); ++k) {
        EXPECT_EQ(w.EditDigital[k]->objectName(), QString("EditDigital%1").arg(8 + k));
        EXPECT_EQ(w.EditDigital[k]->text(), "0");
        EXPECT_EQ(w.EditDigital[k]->GetDigitalType(), deFloat);
        EXPECT_EQ(w.EditDigital[k]->GetMinValue(), 0.5L);
        EXPECT_EQ(w.EditDigital[k]->x(), x[k]);
        EXPECT_EQ(w.EditDigital[k]->width(), 57);
    }
    EXPECT_EQ(w.ChB_back->text(), "+ Поток в обратном направлении.");
    EXPECT_FALSE(w.ChB_back->isEnabled());
    EXPECT_EQ(w.ChB_back->geometry().topLeft(), QPoint(120, 32));

    // The panels keep their heights and the memo takes what the window grows by.
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.Panel1->height(), 33);
    EXPECT_EQ(w.Panel2->height(), 56);
    EXPECT_EQ(w.Panel3->height(), 29);
    EXPECT_EQ(w.ProgressBar3->height(), 16);
    // The controls of the connection panel keep their order without overlapping, inside the window.
    EXPECT_LE(w.ChBDopInfo->geometry().right(), w.SpeedButton3->x());
    EXPECT_LE(w.ChBDopInfo->sizeHint().width(), w.ChBDopInfo->width());
    EXPECT_LE(w.SpeedButton1->geometry().right(), w.Panel1->width());
    const int memoHeight = w.Memo1->height();
    w.resize(w.width() + 100, w.height() + 100);
    QApplication::processEvents();
    EXPECT_EQ(w.Memo1->height(), memoHeight + 100);
    EXPECT_EQ(w.Panel2->height(), 56);
}

TEST_F(MainWindow, InputsReachTheControllerAndItsViewIsPaintedBack)
{
    TFMain& w = *window;
    // A typed name is used as typed.
    w.CBPortName->lineEdit()->selectAll();
    QTest::keyClicks(w.CBPortName->lineEdit(), "ttyS7");
    EXPECT_EQ(rig.ctl.View().CBPortNameText, "ttyS7");
    w.CBPortName->setCurrentIndex(1);
    EXPECT_EQ(rig.ctl.View().CBPortNameText, "COM2");

    QTest::mouseClick(w.ChBDopInfo, Qt::LeftButton);
    EXPECT_TRUE(rig.ctl.View().ChBDopInfoChecked);
    w.EditDigital[1]->clear();
    QTest::keyClicks(w.EditDigital[1], "2.5");
    EXPECT_EQ(rig.ctl.View().EditDigitalText[1], "2,5");

    QTest::mouseClick(w.SBOpenClose, Qt::LeftButton);
    EXPECT_TRUE(rig.ctl.View().SBOpenCloseDown);
    EXPECT_EQ(rig.line.GetCommNet(), "COM2");
    EXPECT_FALSE(w.CBPortName->isEnabled());
    EXPECT_FALSE(w.PageControl1->isTabVisible(1));
    ASSERT_TRUE(rig.RunToStage(msReady));

    // The protocol header, the status line and the enabled run controls, as the controller holds them.
    const auto& lines = rig.ctl.View().Memo1Lines;
    ASSERT_GE(lines.size(), 5u);
    QStringList expected;
    for (const std::string& l : lines) expected << QString::fromStdString(l);
    EXPECT_EQ(MemoLines(), expected);
    EXPECT_EQ(MemoLines().front(), "Серийный номер счетчика №21345");
    EXPECT_EQ(w.LStatus->text(), QString::fromStdString(rig.ctl.View().LStatusCaption));
    EXPECT_TRUE(w.Button1->isEnabled());
    EXPECT_TRUE(w.ChB_back->isEnabled());
    QTest::mouseClick(w.ChB_back, Qt::LeftButton);
    EXPECT_TRUE(rig.ctl.View().ChB_backChecked);

    // A second header (a reconnect) replaces the memo's lines rather than adding to them.
    QTest::mouseClick(w.SBOpenClose, Qt::LeftButton);
    EXPECT_FALSE(w.SBOpenClose->isChecked());
    EXPECT_TRUE(w.CBPortName->isEnabled());
    EXPECT_TRUE(w.PageControl1->isTabVisible(1));
    EXPECT_FALSE(w.Button1->isEnabled());
    QTest::mouseClick(w.SBOpenClose, Qt::LeftButton);
    ASSERT_TRUE(rig.RunToStage(msReady));
    EXPECT_EQ(MemoLines(), expected);
}

TEST_F(MainWindow, APortThatCannotBeOpenedBringsTheButtonBackUp)
{
    rig.line.SetRefuseOpen("нет такого устройства");
    QTest::mouseClick(window->SBOpenClose, Qt::LeftButton);
    EXPECT_FALSE(window->SBOpenClose->isChecked());
    EXPECT_TRUE(window->CBPortName->isEnabled());
    ASSERT_EQ(rig.prompter.Count("message"), 1);
    EXPECT_NE(rig.prompter.Of("message")[0].text.find("нет такого устройства"), std::string::npos);
    EXPECT_TRUE(rig.line.Writes().empty());
}

TEST_F(MainWindow, FormStateIsRestoredOnShowAndStoredOnClose)
{
    TIniDocument ini;
    ini.WriteInteger("FMain", "Left", 40);
    ini.WriteInteger("FMain", "Width", 700);
    ini.WriteString("FMain", "CBPortName", "/dev/ttyACM0");
    ini.SaveFile(StateFile());

    window->FormStatus1->SetForms({window.get()});
    window->show();
    EXPECT_EQ(window->width(), 700);
    EXPECT_EQ(window->CBPortName->currentText(), "/dev/ttyACM0");
    EXPECT_EQ(rig.ctl.View().CBPortNameText, "/dev/ttyACM0");

    window->SetPortName("COM4");
    qApp->setQuitOnLastWindowClosed(false);
    // The controller's close (a refused verification) closes the window, which stores its state.
    rig.ctl.TimerCloseTimer(nullptr);
    EXPECT_FALSE(window->isVisible());
    TIniDocument stored;
    stored.LoadFile(StateFile());
    EXPECT_EQ(stored.ReadString("FMain", "CBPortName", ""), "COM4");
    EXPECT_EQ(stored.ReadInteger("FMain", "Width", 0), 700);
}
