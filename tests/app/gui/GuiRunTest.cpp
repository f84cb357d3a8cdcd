// The program's windows against the built-in simulated meter on a pseudo-terminal, in real time: connect with a
// click, choose the sensor in its dialog, see the header, run the verification, see its points and verdict and save
// the protocol.
#include <gtest/gtest.h>

#include "DialogAnswerer.h"
#include "app/verify/TFMainController.h"
#include "app/gui/TFMain.h"
#include "app/gui/TFSelectSensor.h"
#include "app/gui/TGuiJournal.h"
#include "app/gui/TPointsTable.h"
#include "app/gui/TVerdictView.h"
#include "app/gui/TRivantaGui.h"
#include "controls/TEditDigital.h"
#include "core/Cp1251.h"
#include "core/Locale.h"
#include "journal/TJournal.h"
#include "sim/PtyMeterServer.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace rv;
namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct TempDir {
    TempDir() : path(fs::temp_directory_path() / ("rivanta-gui-run-" + std::to_string(::getpid())))
    {
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

}  // namespace

TEST(GuiRun, ConnectChooseRunAndSaveAgainstTheSimulatorOnAPseudoTerminal)
{
    SetDecimalSeparator(',');
    TempDir dir;
    const SFormStatePlace place{(dir.path / "rivanta").string(), [](const std::string&) { return true; },
                                dir.path.string()};
    SGuiOptions options;
    options.Simulate = true;
    TRivantaGui gui(options, place);
    gui.Show();
    TFMain& w = gui.FMain();
    TFMainController& ctl = gui.Controller();
    ASSERT_NE(gui.Simulator(), nullptr);
    EXPECT_EQ(w.CBPortName->currentText().toStdString(), gui.Simulator()->SlavePath());

    int sensorDialogs = 0;
    const fs::path report = dir.path / "report";
    test::DialogAnswerer answer([&](QDialog* d) {
        if (auto* select = qobject_cast<TFSelectSensorTest*>(d)) {
            ++sensorDialogs;
            ASSERT_GE(select->Buttons().size(), 2u);
            EXPECT_TRUE(select->Buttons()[0]->isChecked());
            select->Buttons()[0]->click();
            select->BitBtn1->click();
        } else if (auto* save = qobject_cast<QFileDialog*>(d)) {
            save->selectFile(QString::fromStdString(report.string()));
            static_cast<QDialog*>(save)->accept();
        } else if (auto* box = qobject_cast<QMessageBox*>(d)) {
            box->buttons().front()->click();
        }
    });

    QTest::mouseClick(w.SBOpenClose, Qt::LeftButton);
    EXPECT_TRUE(w.SBOpenClose->isChecked());
    ASSERT_TRUE(QTest::qWaitFor([&] { return ctl.Stage() == msReady || ctl.Stage() == msStopped; }, 30'000));
    ASSERT_EQ(ctl.Stage(), msReady) << ctl.StopReason();
    EXPECT_EQ(sensorDialogs, 1);
    EXPECT_TRUE(w.Memo1->toPlainText().startsWith("Серийный номер счетчика №21345\nМодуль №1 исполнение 07\n"));
    EXPECT_TRUE(w.Button1->isEnabled());

    QTest::mouseClick(w.Button1, Qt::LeftButton);
    // The five-second pauses between the test points make this take about half a minute.
    ASSERT_TRUE(QTest::qWaitFor([&] { return ctl.Stage() == msDone || ctl.Stage() == msStopped; }, 240'000));
    ASSERT_EQ(ctl.Stage(), msDone) << ctl.StopReason();
    EXPECT_TRUE(answer.boxes.empty()) << answer.boxes.front();

    const SMainView& view = ctl.View();
    QStringList lines;
    for (const std::string& l : view.Memo1Lines) lines << QString::fromStdString(l);
    EXPECT_EQ(w.Memo1->toPlainText(), lines.join('\n'));
    EXPECT_TRUE(w.Memo1->toPlainText().contains("Относительная погрешность"));
    for (size_t k = 0; k < w.EditDigital.size(); ++k)
        EXPECT_EQ(w.EditDigital[k]->text().toStdString(), view.EditDigitalText[k]);
    EXPECT_NE(view.EditDigitalText[0], "0");
    EXPECT_EQ(w.ProgressBar3->value(), view.ProgressBar3Position);
    // The run's points and verdict beside the protocol, and its record in the journal.
    TRunPanel& panel = gui.Journal().RunPanel();
    EXPECT_EQ(panel.Points->rowCount(), static_cast<int>(view.RunPoints.size()));
    EXPECT_EQ(panel.Verdict->Verdict->text(), "годен");
    ASSERT_NE(gui.Journal().Journal(), nullptr);
    EXPECT_EQ(gui.Journal().Journal()->Get(gui.Journal().Recorder()->RecordId())->State, journal::ERunState::Passed);

    QTest::mouseClick(w.SpeedButton1, Qt::LeftButton);
    const fs::path saved = dir.path / "report.TXT";
    ASSERT_TRUE(fs::exists(saved));
    const std::string bytes = ReadBytes(saved);
    // Code page 1251: "Серийный" is one byte a letter.
    EXPECT_EQ(bytes.rfind("\xD1\xE5\xF0\xE8\xE9\xED\xFB\xE9 ", 0), 0u);
    std::string expected;
    size_t crlf = 0;
    for (const std::string& l : view.Memo1Lines) expected += l + "\r\n";
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(bytes[i - 1], '\r');
            ++crlf;
        }
    EXPECT_EQ(crlf, view.Memo1Lines.size());
    EXPECT_EQ(FromCp1251(bytes), expected);

    QTest::mouseClick(w.SBOpenClose, Qt::LeftButton);
    EXPECT_EQ(ctl.Stage(), msIdle);
    SetDecimalSeparator(0);
}
