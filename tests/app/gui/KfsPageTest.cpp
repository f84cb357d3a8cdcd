// The KFS page of the program's main window against the built-in simulated meter on a pseudo-terminal, in real
// time: connect with a click, choose the sensor, see its coefficient, type a new one, write it and see the final
// message; the verification page is hidden meanwhile and the write button only shows over an open connection. The
// page's port is kept in the KFS window's section of the form state.
#include <gtest/gtest.h>

#include "DialogAnswerer.h"
#include "app/kfs/TForm1Controller.h"
#include "app/kfs/TKfsPageController.h"
#include "app/gui/TFMain.h"
#include "app/gui/TFSelectSensor.h"
#include "app/gui/TKfsPage.h"
#include "app/gui/TRivantaGui.h"
#include "controls/TEditDigital.h"
#include "controls/TIniDocument.h"
#include "core/Locale.h"
#include "sim/MeterImage.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <unistd.h>

#include <filesystem>

using namespace rv;
namespace fs = std::filesystem;

TEST(KfsPageGui, ConnectChooseChangeWriteAndSeeTheFinalMessage)
{
    SetDecimalSeparator(',');
    const fs::path dir = fs::temp_directory_path() / ("rivanta-kfs-gui-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    {
        const SFormStatePlace place{(dir / "rivanta").string(), [](const std::string&) { return true; }, dir.string()};
        SGuiOptions options;
        options.Simulate = true;
        TRivantaGui gui(options, place);
        ASSERT_NE(gui.Simulator(), nullptr);
        gui.Simulator()->WithMeter([](sim::SimMeter& m) { m.Image().SetCorrectionMode(true); });
        gui.Show();
        TFMain& w = gui.FMain();
        TKfsPage& page = gui.KfsPage();
        TForm1Controller& form1 = gui.Form1Controller();
        EXPECT_EQ(page.ComboBox1->currentText().toStdString(), gui.Simulator()->SlavePath());
        // Nothing of a meter before a connection.
        EXPECT_TRUE(page.Button2->isHidden());
        for (size_t k = 0; k < page.Label.size(); ++k) {
            EXPECT_TRUE(page.Label[k]->isHidden()) << k;
            EXPECT_TRUE(page.EditDigital[k]->isHidden()) << k;
        }
        w.PageControl1->setCurrentIndex(1);

        int sensorDialogs = 0;
        test::DialogAnswerer answer([&](QDialog* d) {
            if (auto* select = qobject_cast<TFSelectSensor*>(d)) {
                ++sensorDialogs;
                EXPECT_EQ(select->GroupBox1->title(), "Выбор датчика для изменеия");
                ASSERT_GE(select->Buttons().size(), 2u);
                select->Buttons()[1]->click();
                select->BitBtn1->click();
            } else if (auto* box = qobject_cast<QMessageBox*>(d)) {
                if (QAbstractButton* yes = box->button(QMessageBox::Yes))
                    yes->click();
                else
                    box->buttons().front()->click();
            }
        });

        EXPECT_EQ(page.SpeedButton2->text(), "Установить соединение");
        QTest::mouseClick(page.SpeedButton2, Qt::LeftButton);
        EXPECT_TRUE(page.SpeedButton2->isChecked());
        EXPECT_EQ(page.SpeedButton2->text(), "Разорвать соединение");
        EXPECT_FALSE(page.ComboBox1->isEnabled());
        EXPECT_FALSE(w.PageControl1->isTabVisible(0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form1.Stage() == fsShowing || form1.Stage() == fsStopped; }, 30'000));
        ASSERT_EQ(form1.Stage(), fsShowing) << form1.StopReason();
        EXPECT_EQ(sensorDialogs, 1);
        EXPECT_EQ(page.Label[0]->text(), "Модуль №1 FSA Диаметр 0,032");
        EXPECT_EQ(page.EditDigital[0]->text(), "0,9987000");
        EXPECT_EQ(w.LStatus->text(), "OK");
        EXPECT_FALSE(page.Button2->isHidden());

        // Typed through the field's key filter: the point becomes the comma.
        page.EditDigital[0]->selectAll();
        QTest::keyClick(page.EditDigital[0], Qt::Key_Backspace);
        QTest::keyClicks(page.EditDigital[0], "1.005");
        EXPECT_EQ(page.EditDigital[0]->text(), "1,005");
        QTest::mouseClick(page.Button2, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return form1.WriteResult() != wrNone; }, 30'000));
        ASSERT_EQ(form1.WriteResult(), wrDone) << form1.WriteMessage();
        ASSERT_EQ(answer.boxes.size(), 2u);
        EXPECT_EQ(answer.boxes[0],
                  "Внимание.|Записать KFS в прибор?\nДатчик: Модуль №1 FSA Диаметр 0,032\n КFS с 0,9987000 на "
                  "1,0050000");
        EXPECT_EQ(answer.boxes[1], "Внимание|Произведено изменение\n КFS с 0,9987000 на 1,0050000");
        EXPECT_EQ(w.LStatus->text(), "OK");
        float written = 0;
        std::string text;
        gui.Simulator()->WithMeter([&](sim::SimMeter& m) {
            written = m.Image().flash.F32(sim::layout::SensorAddress(1) + 178);
            text = m.Image().flash.Text(sim::layout::SensorAddress(1) + 160, 10);
        });
        EXPECT_FLOAT_EQ(written, 1.005f);
        EXPECT_EQ(text, "1,005");

        QTest::mouseClick(page.SpeedButton2, Qt::LeftButton);
        EXPECT_FALSE(page.SpeedButton2->isChecked());
        EXPECT_EQ(page.SpeedButton2->text(), "Установить соединение");
        EXPECT_TRUE(page.Button2->isHidden());
        EXPECT_TRUE(page.ComboBox1->isEnabled());
        EXPECT_TRUE(w.PageControl1->isTabVisible(0));
        EXPECT_EQ(w.PageControl1->currentIndex(), 1);
        EXPECT_EQ(form1.Stage(), fsIdle);
    }
    fs::remove_all(dir);
    SetDecimalSeparator(0);
}

// The KFS page's port is kept in the KFS window's section of the form state, as its box CBPortName: restored into
// the page on show, stored from it on close.
TEST(KfsPageGui, PortChoiceIsKeptInTheKfsWindowsSection)
{
    const fs::path dir = fs::temp_directory_path() / ("rivanta-kfs-state-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const SFormStatePlace place{(dir / "rivanta").string(), [](const std::string&) { return true; }, dir.string()};
    const std::string file = (dir / "rivanta_SP.ini").string();
    {
        TIniDocument ini;
        ini.WriteString("Form1", "CBPortName", "/dev/ttyUSB3");
        ini.SaveFile(file);
    }
    {
        TRivantaGui gui(SGuiOptions{}, place);
        gui.Show();
        TKfsPage& page = gui.KfsPage();
        EXPECT_EQ(page.ComboBox1->currentText().toStdString(), "/dev/ttyUSB3");
        EXPECT_EQ(gui.KfsPageController().View().ComboBox1Text, "/dev/ttyUSB3");

        page.ComboBox1->setEditText(QStringLiteral("COM3"));
        EXPECT_EQ(gui.Form1PortBox().currentText(), "COM3");
        qApp->setQuitOnLastWindowClosed(false);
        gui.FMain().close();
    }
    TIniDocument stored;
    stored.LoadFile(file);
    EXPECT_EQ(stored.ReadString("Form1", "CBPortName", ""), "COM3");
    EXPECT_EQ(stored.ReadString("FMain", "ComboBox1", ""), "COM3");
    fs::remove_all(dir);
}
