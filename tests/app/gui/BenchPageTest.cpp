// The "Стенд" page of the program against simulated meters on pseudo-terminals, in real time: three rows started
// together, one stopped alone while the others go on, its dialog, and the window that closes only once every meter
// has switched its emulation off.
#include <gtest/gtest.h>

#include "app/gui/TBenchPage.h"
#include "app/gui/TFMain.h"
#include "app/gui/TGuiJournal.h"
#include "app/gui/TPortList.h"
#include "app/gui/TRivantaGui.h"
#include "sim/MeterImage.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"
#include "journal/TJournal.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace rv;
namespace fs = std::filesystem;

namespace {

bool EmulationOn(sim::PtyMeterServer& server)
{
    bool on = false;
    server.WithMeter([&](sim::SimMeter& m) {
        const uint16_t block = m.Image().RamPointer(8);
        on = (m.Image().ram.U8(block + 1) & 0x60) != 0 || (m.Image().ram.U8(block + 5) & 0x60) != 0;
    });
    return on;
}

QString Cell(TBenchPage& page, int row, int column)
{
    return page.Table->item(row, column)->text();
}

}  // namespace

TEST(BenchPage, ThreeMetersStartedTogetherAndOneStoppedAlone)
{
    const fs::path dir = fs::temp_directory_path() / ("rivanta-bench-page-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    {
        const SFormStatePlace place{(dir / "rivanta").string(), [](const std::string&) { return true; }, dir.string()};
        SGuiOptions options;
        options.BenchSimulate = 3;
        TRivantaGui gui(options, place);
        gui.Show();
        TFMain& w = gui.FMain();
        TBenchPage& page = gui.BenchPage();
        TBench& bench = gui.Bench();
        const auto& sims = gui.BenchSimulators();
        ASSERT_EQ(w.PageControl1->tabText(w.PageControl1->indexOf(&page)), "Стенд");
        EXPECT_EQ(w.PageControl1->tabText(2), "Журнал");  // the bench after the journal
        w.PageControl1->setCurrentWidget(&page);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        ASSERT_EQ(page.Table->rowCount(), 3);
        for (int r = 0; r < 3; ++r) {
            EXPECT_EQ(TPortList::Of(page.PortBoxOf(r))->Path(), sims[static_cast<size_t>(r)]->SlavePath());
            EXPECT_EQ(Cell(page, r, bcState), "ожидает");
            EXPECT_FALSE(page.StopButtonOf(r)->isEnabled());
        }
        EXPECT_EQ(page.SensorBoxOf(1)->currentText(), "0");  // the three-path meter's first sensor
        EXPECT_FALSE(page.ButtonStopAll->isEnabled());

        QTest::mouseClick(page.ButtonStartAll, Qt::LeftButton);
        EXPECT_FALSE(page.ButtonStartAll->isEnabled());
        EXPECT_TRUE(page.ButtonStopAll->isEnabled());
        EXPECT_FALSE(page.ButtonRemove->isEnabled());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                for (size_t i = 0; i < 3; ++i)
                    if (!bench.Meter(i) || bench.Meter(i)->Controller().Stage() != msSweeping) return false;
                return true;
            },
            60'000));
        for (int r = 0; r < 3; ++r) {
            EXPECT_EQ(Cell(page, r, bcState), "поверка");
            EXPECT_TRUE(Cell(page, r, bcPhase).contains("развертка задержек", Qt::CaseInsensitive)) << r;
            EXPECT_FALSE(page.PortBoxOf(r)->isEnabled());
            EXPECT_TRUE(EmulationOn(*sims[static_cast<size_t>(r)]));
        }
        EXPECT_EQ(Cell(page, 0, bcSerial), "21345");
        EXPECT_EQ(Cell(page, 1, bcSerial), "30412");

        // One row's "Стоп": that meter alone switches its emulation off and ends, the others go on.
        QTest::mouseClick(page.StopButtonOf(1), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !bench.Running(1); }, 30'000));
        EXPECT_EQ(Cell(page, 1, bcState), "прервана");
        EXPECT_TRUE(Cell(page, 1, bcVerdict).startsWith("не завершена: Поверка прервана: остановлена техником"))
            << Cell(page, 1, bcVerdict).toStdString();
        EXPECT_FALSE(EmulationOn(*sims[1]));
        EXPECT_TRUE(bench.Running(0));
        EXPECT_TRUE(bench.Running(2));
        EXPECT_TRUE(EmulationOn(*sims[0]));
        EXPECT_TRUE(EmulationOn(*sims[2]));
        EXPECT_FALSE(page.StopButtonOf(1)->isEnabled());
        EXPECT_TRUE(page.StopButtonOf(0)->isEnabled());
        EXPECT_TRUE(page.PortBoxOf(1)->isEnabled());
        EXPECT_TRUE(page.ButtonStartAll->isEnabled());
        const int before = qobject_cast<QProgressBar*>(page.Table->cellWidget(0, bcProgress))->value();
        QTest::qWait(1500);
        EXPECT_GT(qobject_cast<QProgressBar*>(page.Table->cellWidget(0, bcProgress))->value(), before);

        // A double click shows the stopped meter's protocol and course.
        const QRect cell = page.Table->visualItemRect(page.Table->item(1, bcState));
        QTest::mouseClick(page.Table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(page.Table->viewport(), Qt::LeftButton, {}, cell.center());
        auto* dialog = page.findChild<TBenchMeterDialog*>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->Protocol->toPlainText().startsWith("Серийный номер счетчика №30412\n"));
        EXPECT_TRUE(dialog->Protocol->toPlainText().contains("Поверка прервана: остановлена техником ("));
        EXPECT_TRUE(dialog->Course->toPlainText().contains("Остановка: остановлена техником"));
        dialog->close();

        // The window closes only once every meter has switched its emulation off and let its port go.
        w.close();
        EXPECT_TRUE(w.isVisible());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 30'000));
        EXPECT_FALSE(bench.AnyRunning());
        for (int r : {0, 2}) {
            EXPECT_EQ(Cell(page, r, bcState), "прервана");
            EXPECT_TRUE(Cell(page, r, bcVerdict).contains("окно закрыто")) << r;
            EXPECT_FALSE(EmulationOn(*sims[static_cast<size_t>(r)])) << r;
        }
        // Each meter's run is in the window's journal, stopped, with the bench's port.
        ASSERT_NE(gui.Journal().Journal(), nullptr);
        const auto records = gui.Journal().Journal()->List({}, 10);
        ASSERT_EQ(records.size(), 3u);
        for (const auto& record : records) {
            EXPECT_EQ(record.State, journal::ERunState::Stopped) << record.Port;
            EXPECT_TRUE(std::any_of(sims.begin(), sims.end(), [&](const auto& s) { return s->SlavePath() == record.Port; }))
                << record.Port;
        }
        // The rows' ports are the bench's own: nothing of them went into the form state.
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::ifstream in(entry.path());
            const std::string text((std::istreambuf_iterator<char>(in)), {});
            for (const auto& s : sims) EXPECT_EQ(text.find(s->SlavePath()), std::string::npos) << entry.path();
        }
    }
    fs::remove_all(dir);
}
