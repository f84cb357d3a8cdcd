// The port boxes of both pages: what they offer on Linux, adapters under /dev/serial/by-id shown by a short name
// while the controllers get the full path, the list made afresh when it is opened, a box wide enough for a USB
// adapter's name, and the form state keeping the box's text.
#include <gtest/gtest.h>

#include "KfsRig.h"
#include "MainRig.h"
#include "app/gui/GuiLook.h"
#include "app/gui/TFMain.h"
#include "app/gui/TKfsPage.h"
#include "app/gui/TPortList.h"
#include "controls/TFormStatus.h"
#include "controls/TIniDocument.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <unistd.h>

#include <filesystem>
#include <memory>

using namespace rv;
using namespace rv::test;
namespace fs = std::filesystem;

namespace {

const std::string kAdapter = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

QStringList Items(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
}

// Opens the box's list as the technician does, with a click on its arrow, and closes it again.
void OpenList(QComboBox* box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 6, box->height() / 2));
    QApplication::processEvents();
    box->hidePopup();
}

class PortBoxes : public ::testing::Test {
protected:
    PortBoxes()
        : dir_(fs::temp_directory_path() / ("rivanta-ports-" + std::to_string(::getpid()))),
          place_{(dir_ / "rivanta").string(), [](const std::string&) { return true; }, dir_.string()}
    {
        fs::create_directories(dir_);
    }
    ~PortBoxes() override { fs::remove_all(dir_); }
    std::unique_ptr<TFMain> Window(const std::vector<std::string>& ports)
    {
        return std::make_unique<TFMain>(rig.ctl, rig.prompter, ports, place_);
    }

    MainRig rig;
    fs::path dir_;
    SFormStatePlace place_;
};

}  // namespace

TEST(PortNames, PresentPortsFirstAndComNamesOnlyWhereTheirPortIs)
{
    EXPECT_EQ(PortItems({kAdapter, "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyUSB1"}),
              (std::vector<std::string>{kAdapter, "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyUSB1", "COM1", "COM3"}));
    EXPECT_EQ(PortItems({"/dev/ttyS4", "/dev/ttyACM0"}), (std::vector<std::string>{"/dev/ttyS4", "/dev/ttyACM0"}));
    EXPECT_TRUE(PortItems({}).empty());

    EXPECT_EQ(PortShortName(kAdapter), "FTDI_FT232R_USB_UART_A50285BI");
    // The second port of a two-port adapter keeps what tells it from the first.
    EXPECT_EQ(PortShortName("/dev/serial/by-id/usb-FTDI_Dual_RS232-HS-if01-port0"), "FTDI_Dual_RS232-HS-if01-port0");
    EXPECT_EQ(PortShortName("/dev/serial/by-id/pci-Moxa_CP-102E-port1"), "pci-Moxa_CP-102E-port1");
    for (const char* as : {"/dev/ttyUSB0", "COM1", "/dev/serial/by-id/", "ttyS7"}) EXPECT_EQ(PortShortName(as), as);
}

TEST_F(PortBoxes, AdapterShownByItsNameAndHandedOnByItsPath)
{
    auto w = Window({kAdapter, "/dev/ttyUSB0"});
    QComboBox* box = w->CBPortName;
    EXPECT_EQ(Items(box), QStringList({"FTDI_FT232R_USB_UART_A50285BI", "/dev/ttyUSB0"}));
    EXPECT_EQ(box->itemData(0, Qt::ToolTipRole).toString().toStdString(), kAdapter);
    // The first port present is offered at start, by its short name; the controller has its path.
    EXPECT_EQ(box->currentText(), "FTDI_FT232R_USB_UART_A50285BI");
    EXPECT_EQ(rig.ctl.View().CBPortNameText, kAdapter);
    EXPECT_EQ(box->toolTip().toStdString(), kAdapter);

    box->setCurrentIndex(1);
    EXPECT_EQ(rig.ctl.View().CBPortNameText, "/dev/ttyUSB0");
    box->setCurrentIndex(0);
    EXPECT_EQ(rig.ctl.View().CBPortNameText, kAdapter);
    // Typed, a name goes as typed.
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), "ttyS7");
    EXPECT_EQ(rig.ctl.View().CBPortNameText, "ttyS7");
    // A path put in from outside (--port) shows by its short name where it is listed.
    w->SetPortName(kAdapter);
    EXPECT_EQ(box->currentText(), "FTDI_FT232R_USB_UART_A50285BI");
    EXPECT_EQ(rig.ctl.View().CBPortNameText, kAdapter);

    // Connected, the link gets the path.
    QTest::mouseClick(w->SBOpenClose, Qt::LeftButton);
    EXPECT_EQ(rig.line.GetCommNet(), kAdapter);
    EXPECT_EQ(box->currentText(), "FTDI_FT232R_USB_UART_A50285BI");
}

TEST_F(PortBoxes, WideEnoughForAUsbAdapterAndTheRowKeepsItsOrder)
{
    auto w = Window({"/dev/ttyUSB0"});
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    QComboBox* box = w->CBPortName;
    const int text = QFontMetrics(box->font()).horizontalAdvance(QStringLiteral("/dev/ttyUSB0"));
    EXPECT_GT(box->lineEdit()->width(), text);
    EXPECT_LT(box->geometry().right(), w->SBOpenClose->x());
    EXPECT_LE(w->SpeedButton1->geometry().right(), w->Panel1->width());
}

TEST_F(PortBoxes, ListIsMadeAfreshWhenOpened)
{
    auto w = Window({"/dev/ttyUSB0"});
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    QComboBox* box = w->CBPortName;
    std::vector<std::string> present = {"/dev/ttyUSB0", kAdapter};
    TPortList::Of(box)->SetLister([&] { return present; });
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), "ttyS7");

    // An adapter plugged in after start-up appears when the list is opened; what the box holds stays.
    OpenList(box);
    EXPECT_EQ(Items(box), QStringList({"/dev/ttyUSB0", "FTDI_FT232R_USB_UART_A50285BI"}));
    EXPECT_EQ(box->currentText(), "ttyS7");
    EXPECT_EQ(rig.ctl.View().CBPortNameText, "ttyS7");

    // Chosen, then unplugged: the box goes on naming it by its path, which the controller already has.
    box->setCurrentIndex(1);
    present = {"/dev/ttyUSB0"};
    QTest::keyClick(box->lineEdit(), Qt::Key_F4);
    box->hidePopup();
    EXPECT_EQ(Items(box), QStringList({"/dev/ttyUSB0"}));
    EXPECT_EQ(box->currentText().toStdString(), kAdapter);
    EXPECT_EQ(rig.ctl.View().CBPortNameText, kAdapter);
}

TEST_F(PortBoxes, FormStateKeepsTheBoxText)
{
    {
        auto w = Window({kAdapter, "/dev/ttyUSB0"});
        w->FormStatus1->SetForms({w.get()});
        w->CBPortName->setCurrentIndex(0);
        w->FormClose();
    }
    TIniDocument stored;
    stored.LoadFile((dir_ / "rivanta_SP.ini").string());
    EXPECT_EQ(stored.ReadString("FMain", "CBPortName", ""), "FTDI_FT232R_USB_UART_A50285BI");

    rig.ctl.SetCBPortNameText("COM1");
    auto w = Window({"/dev/ttyUSB0", kAdapter});
    w->FormStatus1->SetForms({w.get()});
    EXPECT_EQ(rig.ctl.View().CBPortNameText, "/dev/ttyUSB0");
    w->FormShow();
    EXPECT_EQ(w->CBPortName->currentText(), "FTDI_FT232R_USB_UART_A50285BI");
    EXPECT_EQ(rig.ctl.View().CBPortNameText, kAdapter);
}

// The KFS page's box: the same list, and its refresh reaches the KFS window's port box by index.
TEST(KfsPortBox, ListMadeAfreshReachesTheKfsWindow)
{
    KfsRig rig;
    TKfsPage page(rig.page, rig.prompter, {"/dev/ttyUSB0"});
    QComboBox* box = page.ComboBox1;
    EXPECT_EQ(Items(box), QStringList({"/dev/ttyUSB0"}));
    EXPECT_EQ(rig.page.View().ComboBox1Text, "/dev/ttyUSB0");
    EXPECT_EQ(rig.form1.View().CBPortNameText, "/dev/ttyUSB0");
    EXPECT_LE(box->geometry().right(), page.SpeedButton2->x());

    page.resize(500, 200);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    TPortList::Of(box)->SetLister([] { return std::vector<std::string>{kAdapter, "/dev/ttyUSB0"}; });
    OpenList(box);
    EXPECT_EQ(Items(box), QStringList({"FTDI_FT232R_USB_UART_A50285BI", "/dev/ttyUSB0"}));
    box->setCurrentIndex(0);
    EXPECT_EQ(rig.page.View().ComboBox1Text, kAdapter);
    EXPECT_EQ(rig.form1.View().CBPortNameText, kAdapter);
    EXPECT_EQ(rig.form1.View().CBPortNameItemIndex, 0);
}
