// The main window's "Стоп" over its controller, in virtual time against the simulated meter: enabled only while a
// run is under way, and pressed in the sweep it leaves the meter's emulation off and the interruption line last in
// the memo, the status line saying why.
#include <gtest/gtest.h>

#include "MainRig.h"
#include "app/gui/TFMain.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <unistd.h>

#include <filesystem>

using namespace rv;
using namespace rv::test;
namespace fs = std::filesystem;

TEST(StopButton, PressedInTheSweepSwitchesTheEmulationOffAndEndsTheProtocol)
{
    CommaSeparator comma;
    const fs::path dir = fs::temp_directory_path() / ("rivanta-stop-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    {
        MainRig rig;
        const SFormStatePlace place{(dir / "rivanta").string(), [](const std::string&) { return true; }, dir.string()};
        TFMain w(rig.ctl, rig.prompter, {}, place);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        EXPECT_FALSE(w.ButtonStop->isEnabled());

        QTest::mouseClick(w.SBOpenClose, Qt::LeftButton);
        EXPECT_EQ(w.SBOpenClose->text(), "Разорвать соединение");
        ASSERT_TRUE(rig.RunToStage(msReady));
        EXPECT_FALSE(w.ButtonStop->isEnabled());
        QTest::mouseClick(w.Button1, Qt::LeftButton);
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().SweepDelay == 4; }));
        const uint16_t emu = rig.image->RamPointer(8);
        ASSERT_EQ(rig.image->ram.U8(emu + 1) & 0x60, 0x60);
        EXPECT_TRUE(w.ButtonStop->isEnabled());
        EXPECT_TRUE(w.LStatus->text().startsWith(QStringLiteral("Развертка задержек 5 из 12")));
        const int progress = w.ProgressBar3->value();
        EXPECT_GT(progress, 0);

        QTest::mouseClick(w.ButtonStop, Qt::LeftButton);
        ASSERT_TRUE(rig.RunToStage(msStopped, 10'000));
        EXPECT_EQ(rig.image->ram.U8(emu), 0);
        EXPECT_EQ(rig.image->ram.U8(emu + 1) & 0x60, 0);
        const QStringList memo = w.Memo1->toPlainText().split('\n');
        EXPECT_EQ(memo.back(), "Поверка прервана: остановлена техником (Развертка задержек 5 из 12).");
        EXPECT_EQ(w.LStatus->text(), "Поверка прервана: остановлена техником.");
        EXPECT_FALSE(w.ButtonStop->isEnabled());
        EXPECT_TRUE(w.Button1->isEnabled());
        EXPECT_GE(w.ProgressBar3->value(), progress);
        EXPECT_LT(w.ProgressBar3->value(), w.ProgressBar3->maximum());
        EXPECT_TRUE(w.SBOpenClose->isChecked());
    }
    fs::remove_all(dir);
}
