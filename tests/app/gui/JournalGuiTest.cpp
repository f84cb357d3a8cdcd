// The journal in the program's windows: the run panel under the protocol following a run in virtual time against the
// simulated meter (its points judged as printed, the verdict once the run ended, the conditions it is recorded
// with), the program without a journal, the Журнал page over a journal of its own (list, filters, a record opened,
// the documents exported) and the laboratory's settings saved and read back. Every test keeps its journal and
// settings in a folder of its own.
#include <gtest/gtest.h>

#include "DialogAnswerer.h"
#include "MainRig.h"
#include "app/gui/TConditionsForm.h"
#include "app/gui/TFMain.h"
#include "app/gui/TGuiJournal.h"
#include "app/gui/TJournalPage.h"
#include "app/gui/TLaboratoryDialog.h"
#include "app/gui/TPointsTable.h"
#include "app/gui/TRecordDialog.h"
#include "app/gui/TRunPanel.h"
#include "app/gui/TVerdictView.h"
#include "journal/JournalLocation.h"
#include "journal/RegistryXml.h"
#include "journal/TJournal.h"
#include "journal/TJournalModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

using namespace rv;
using namespace rv::test;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The verdict of a printed point worked out apart from the journal's digit comparison: |relative| <= allowed.
std::string HandVerdict(const SRunPoint& p)
{
    if (!p.NotChecked.empty()) return "не проверена";
    auto number = [](std::string t) {
        for (char& c : t)
            if (c == ',') c = '.';
        return std::stod(t);
    };
    return std::fabs(number(p.Relative)) <= number(p.Allowed) + 1e-12 ? "годен" : "не годен";
}

// Sets a variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value) : name_(name), saved_(qgetenv(name))
    {
        qputenv(name, value.toLocal8Bit());
    }
    ~ScopedEnv()
    {
        if (saved_.isNull())
            qunsetenv(name_);
        else
            qputenv(name_, saved_);
    }

private:
    const char* name_;
    QByteArray saved_;
};

// A folder of the test's own for the journal, the settings and the window's form state.
class JournalGui : public ::testing::Test {
protected:
    JournalGui()
        : data_("XDG_DATA_HOME", home_.path() + "/data"),
          config_("XDG_CONFIG_HOME", home_.path() + "/config"),
          place_{Path("form"), [](const std::string&) { return true; }, home_.path().toStdString()}
    {
    }
    std::string Path(const std::string& name) const { return home_.path().toStdString() + "/" + name; }

    QTemporaryDir home_;
    ScopedEnv data_;
    ScopedEnv config_;
    SFormStatePlace place_;
};

// The main window over a rig with the journal's side of the GUI.
struct WindowRig {
    explicit WindowRig(const SFormStatePlace& place, const sim::MeterDescription& d = sim::DefaultDescription())
        : rig(d), window(rig.ctl, rig.prompter, {}, place), gui(rig.ctl, window, rig.prompter)
    {
    }
    bool Start()
    {
        if (!rig.ConnectToReady() || rig.ctl.Stage() != msReady) return false;
        rig.ctl.Button1Click();
        return true;
    }
    bool ToEnd()
    {
        return rig.RunUntil([&] { return rig.ctl.Stage() == msDone || rig.ctl.Stage() == msStopped; });
    }

    CommaSeparator comma;
    MainRig rig;
    TFMain window;
    TGuiJournal gui;
};

// Answers the system's print dialog: printing to a PDF file, as it offers on a machine without printers.
void PrintToFile(QDialog* d, const std::string& path)
{
    auto* file = d->findChild<QLineEdit*>("filename");
    ASSERT_NE(file, nullptr);
    file->setText(QString::fromStdString(path));
    d->accept();
}

// Fills the conditions dialog and accepts it.
void AnswerConditions(QDialog* d, const QString& temperature, const QString& humidity, const QString& pressure)
{
    auto* form = d->findChild<TConditionsForm*>();
    ASSERT_NE(form, nullptr);
    form->Temperature->setText(temperature);
    form->Humidity->setText(humidity);
    form->Pressure->setText(pressure);
    d->accept();
}

}  // namespace

// The rows appear as the protocol prints its points, each judged from its printed figures; the verdict shows only
// once the run ended and names the failing points; the conditions entered before and during a run go into the
// run's record; a second run starts with an empty table and, stopped, ends "не завершена".
TEST_F(JournalGui, TheRunPanelFollowsTheRunAndItsRecord)
{
    // Six per cent high at the low flows: the low points fail, the top one passes.
    sim::MeterDescription d = sim::DefaultDescription();
    d.sensors[0]->physics.deviation = {{0.2, 6}, {2, 6}, {12, 0}};
    WindowRig w(place_, d);
    ASSERT_NE(w.gui.Journal(), nullptr) << w.gui.Unavailable();
    TRunPanel& panel = w.gui.RunPanel();
    EXPECT_EQ(w.window.PageControl1->tabText(2), "Журнал");
    EXPECT_TRUE(panel.Verdict->isHidden());
    EXPECT_FALSE(panel.PrintButton->isEnabled());
    EXPECT_EQ(panel.Conditions->text(), "Условия поверки: не заданы");

    // Conditions before the run; a figure that is no room's is refused and the dialog stays.
    {
        int conditionDialogs = 0;
        DialogAnswerer answer([&](QDialog* dialog) {
            if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
                box->buttons().front()->click();
                QTimer::singleShot(0, dialog->parentWidget(), [dialog = dialog->parentWidget()] {
                    AnswerConditions(qobject_cast<QDialog*>(dialog), "20,5", "55", "101,3");
                });
            } else if (dialog->objectName() == "ConditionsDialog") {
                ++conditionDialogs;
                AnswerConditions(dialog, "999", "55", "101,3");
            }
        });
        panel.ConditionsButton->click();
        EXPECT_EQ(conditionDialogs, 1);
        ASSERT_EQ(answer.boxes.size(), 1u);
        EXPECT_TRUE(Contains(answer.boxes[0], "Температура воздуха: «999»")) << answer.boxes[0];
    }
    EXPECT_EQ(panel.Conditions->text(), "Условия поверки: 20,5 °C, 55 %, 101,3 кПа");
    ASSERT_TRUE(w.gui.Context().Conditions.AirTemperature);
    EXPECT_DOUBLE_EQ(*w.gui.Context().Conditions.AirTemperature, 20.5);

    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(w.rig.RunUntil([&] { return w.rig.ctl.View().RunPoints.size() == 1; }));
    EXPECT_EQ(panel.Points->rowCount(), 1);
    EXPECT_TRUE(panel.Verdict->isHidden());
    ASSERT_TRUE(w.ToEnd());
    ASSERT_EQ(w.rig.ctl.Stage(), msDone) << w.rig.ctl.StopReason();

    const std::vector<SRunPoint>& points = w.rig.ctl.View().RunPoints;
    ASSERT_EQ(panel.Points->rowCount(), static_cast<int>(points.size()));
    int passed = 0, failed = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const int row = static_cast<int>(i);
        auto text = [&](int column) { return panel.Points->item(row, column)->text().toStdString(); };
        EXPECT_EQ(text(TPointsTable::colDirection), "прямое");
        EXPECT_EQ(text(TPointsTable::colNominal), points[i].Nominal);
        EXPECT_EQ(text(TPointsTable::colSet), points[i].Set);
        EXPECT_EQ(text(TPointsTable::colMeasured), points[i].Measured);
        EXPECT_EQ(text(TPointsTable::colRelative), points[i].Relative);
        EXPECT_EQ(text(TPointsTable::colAllowed), points[i].Allowed);
        EXPECT_EQ(text(TPointsTable::colVerdict), HandVerdict(points[i])) << points[i].Relative;
        (text(TPointsTable::colVerdict) == "годен" ? passed : failed)++;
    }
    EXPECT_GT(passed, 0);
    ASSERT_GT(failed, 0);
    EXPECT_FALSE(panel.Verdict->isHidden());
    EXPECT_EQ(panel.Verdict->Verdict->text(), "не годен");
    // Every failing point named, none of those that passed.
    const std::string outcome = panel.Verdict->Outcome->text().toStdString();
    for (const SRunPoint& p : points)
        EXPECT_EQ(Contains(outcome, "прямое направление, " + p.Nominal + " м3/ч: погрешность " + p.Relative + "%"),
                  HandVerdict(p) == "не годен")
            << outcome;
    EXPECT_TRUE(panel.PrintButton->isEnabled());

    journal::TJournal& journal = *w.gui.Journal();
    const int64_t first = w.gui.Recorder()->RecordId();
    const journal::SVerificationRecord r1 = journal.Get(first).value();
    EXPECT_EQ(r1.State, journal::ERunState::Failed);
    EXPECT_EQ(r1.Points.size(), points.size());
    ASSERT_TRUE(r1.Conditions.Pressure);
    EXPECT_DOUBLE_EQ(*r1.Conditions.Pressure, 101.3);
    {
        // The protocol of the run just done, printed: the record's, numbered.
        QString title;
        DialogAnswerer print([&](QDialog* dialog) {
            title = dialog->windowTitle();
            PrintToFile(dialog, Path("printed.pdf"));
        });
        panel.PrintButton->click();
        EXPECT_EQ(title, "Печать протокола");
        EXPECT_EQ(ReadFile(Path("printed.pdf")).rfind("%PDF", 0), 0u);
    }

    // A second run: the table empties at its start and the verdict goes; conditions entered during it are its.
    w.rig.ctl.Button1Click();
    EXPECT_EQ(panel.Points->rowCount(), 0);
    EXPECT_TRUE(panel.Verdict->isHidden());
    EXPECT_FALSE(panel.PrintButton->isEnabled());
    ASSERT_TRUE(w.rig.RunUntil([&] { return w.rig.ctl.Fields().SweepDelay == 2; }));
    DialogAnswerer during([&](QDialog* dialog) {
        if (dialog->objectName() == "ConditionsDialog") AnswerConditions(dialog, "22", "60", "99");
    });
    panel.ConditionsButton->click();
    const int64_t second = w.gui.Recorder()->RecordId();
    EXPECT_NE(second, first);
    ASSERT_TRUE(journal.Get(second)->Conditions.AirTemperature);
    EXPECT_DOUBLE_EQ(*journal.Get(second)->Conditions.AirTemperature, 22.0);
    EXPECT_DOUBLE_EQ(*journal.Get(first)->Conditions.AirTemperature, 20.5);
    w.rig.ctl.ButtonStopClick();
    ASSERT_TRUE(w.rig.RunToStage(msStopped));
    EXPECT_EQ(panel.Verdict->Verdict->text(), "не завершена");
    EXPECT_TRUE(Contains(panel.Verdict->Outcome->text().toStdString(), "остановлена техником"));
    EXPECT_EQ(journal.Get(second)->State, journal::ERunState::Stopped);
    EXPECT_TRUE(w.rig.prompter.Of("message").size() <= 1u);  // the stop's own box, no journal error
}

// A journal that cannot be opened is told once after the window came up and named in the title; the runs go on
// unrecorded, their verdict still shown and their protocol still printable.
TEST_F(JournalGui, WithoutAJournalTheRunsGoOnAndSaySo)
{
    const std::string blocker = Path("not-a-folder");
    std::ofstream(blocker) << "x";
    journal::SLaboratorySettings lab;
    lab.JournalLocation = blocker + "/journal.sqlite";
    journal::SaveLaboratorySettings(lab, journal::LaboratorySettingsPath());

    WindowRig w(place_);
    EXPECT_EQ(w.gui.Journal(), nullptr);
    EXPECT_FALSE(w.gui.Unavailable().empty());
    EXPECT_TRUE(w.window.windowTitle().contains("не записываются в журнал"));
    EXPECT_TRUE(w.gui.RunPanel().Conditions->text().endsWith("(журнал не ведётся)"));
    EXPECT_FALSE(w.gui.JournalPage().isEnabled());
    EXPECT_TRUE(w.gui.JournalPage().Count->text().startsWith("Журнал не открыт: "));
    w.gui.Shown();
    EXPECT_EQ(w.rig.prompter.Count("message"), 0);  // not in the middle of the start-up
    QApplication::processEvents();
    ASSERT_EQ(w.rig.prompter.Count("message"), 1);
    EXPECT_TRUE(Contains(w.rig.prompter.Of("message")[0].text, "Журнал поверок не открыт: "));

    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(w.ToEnd());
    ASSERT_EQ(w.rig.ctl.Stage(), msDone);
    QApplication::processEvents();
    EXPECT_EQ(w.rig.prompter.Count("message"), 1);
    EXPECT_EQ(w.gui.RunPanel().Verdict->Verdict->text(), "годен");
    EXPECT_TRUE(w.gui.RunPanel().Verdict->Outcome->isHidden());
    EXPECT_TRUE(w.gui.RunPanel().PrintButton->isEnabled());
}

namespace {

// A journal of four runs: meter 111 passed, 222 failed, 111 stopped, 333 passed, one minute apart.
struct JournalFile {
    explicit JournalFile(const std::string& path) : journal(path)
    {
        Add("111", "Петрова А. С.", true, "0,3");
        Add("222", "Иванов И. И.", true, "2,7");
        Add("111", "Петрова А. С.", false, "0,3");
        Add("333", "Иванов И. И.", true, "-0,4");
    }
    void Add(const std::string& serial, const std::string& technician, bool completed, const std::string& relative)
    {
        journal::SVerificationRecord r;
        r.Technician = technician;
        r.Started = journal::LocalNow();
        r.Started.UtcMs += static_cast<int64_t>(ids.size()) * 60'000;
        r.Meter.Serial = serial;
        r.Sensor.Designation = "FS/A FS-25S";
        r.Sensor.Serial = "1001";
        r.Conditions.AirTemperature = 21;
        r.Conditions.Humidity = 50;
        r.Conditions.Pressure = 100.5;
        r.Protocol = "Серийный номер счетчика №" + serial + "\n";
        const int64_t id = journal.Begin(r);
        journal::SVerificationPoint p;
        p.Nominal = "2";
        p.Set = "2,0003";
        p.Measured = "2,0061";
        p.RelativeError = relative;
        p.AllowedError = "2";
        journal.AppendPoint(id, p);
        journal::SRunEnd end;
        end.Completed = completed;
        end.StopReason = completed ? "" : "остановлена техником";
        end.Protocol = r.Protocol;
        journal.Complete(id, end);
        ids.push_back(id);
    }
    journal::TJournal journal;
    std::vector<int64_t> ids;
};

void SelectAll(TJournalPage& page)
{
    page.Table->selectAll();
}

}  // namespace

// The records newest first; the filters by serial, verdict, technician and date; a record opened with its points,
// protocol and verdict, its conditions corrected; CSV, PDF, print and registry XML of the selected records, the XML
// refused while the laboratory's registry fields or the record's are missing, the latter entered in the record.
TEST_F(JournalGui, TheJournalPageListsFiltersOpensAndExports)
{
    JournalFile file(Path("journal.sqlite"));
    journal::SLaboratorySettings lab;
    ScriptedPrompter prompter;
    TJournalPage page(&file.journal, "", lab, prompter);
    page.show();
    page.Reload();
    QAbstractItemModel* model = page.Table->model();
    ASSERT_EQ(model->rowCount(), 4);
    EXPECT_EQ(model->index(0, journal::TJournalModel::colMeter).data().toString(), "333");
    EXPECT_EQ(model->index(3, journal::TJournalModel::colMeter).data().toString(), "111");
    EXPECT_EQ(page.Count->text(), "Записей: 4");
    EXPECT_FALSE(page.CsvButton->isEnabled());  // nothing selected yet

    page.Serial->setText("111");
    QTest::keyClick(page.Serial, Qt::Key_Return);
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->index(0, journal::TJournalModel::colVerdict).data().toString(), "не завершена");
    EXPECT_EQ(model->index(1, journal::TJournalModel::colVerdict).data().toString(), "годен");
    EXPECT_EQ(page.Count->text(), "Записей: 2");
    page.Verdict->setCurrentIndex(1);  // годен
    EXPECT_EQ(model->rowCount(), 1);
    page.ResetButton->click();
    EXPECT_EQ(model->rowCount(), 4);
    EXPECT_TRUE(page.Serial->text().isEmpty());
    page.Technician->setText("Иванов И. И.");
    QTest::keyClick(page.Technician, Qt::Key_Return);
    EXPECT_EQ(model->rowCount(), 2);
    page.ResetButton->click();
    page.Since->setDate(QDate::currentDate().addDays(2));
    page.SinceOn->setChecked(true);
    EXPECT_EQ(model->rowCount(), 0);
    page.SinceOn->setChecked(false);
    page.Until->setDate(QDate::currentDate().addDays(2));
    page.UntilOn->setChecked(true);
    EXPECT_EQ(model->rowCount(), 4);
    page.ResetButton->click();

    // The failed run of meter 222 opened: its verdict, point and protocol; its conditions corrected.
    int opened = 0;
    {
        DialogAnswerer answer([&](QDialog* d) {
            if (auto* record = qobject_cast<TRecordDialog*>(d)) {
                ++opened;
                EXPECT_EQ(record->windowTitle(), QString("Протокол поверки № %1").arg(file.ids[1]));
                EXPECT_EQ(record->Verdict->Verdict->text(), "не годен");
                EXPECT_TRUE(record->Verdict->Outcome->text().contains("прямое направление, 2 м3/ч: погрешность 2,7%"));
                ASSERT_EQ(record->Points->rowCount(), 1);
                EXPECT_EQ(record->Points->item(0, TPointsTable::colVerdict)->text(), "не годен");
                EXPECT_EQ(record->Protocol->toPlainText(), "Серийный номер счетчика №222\n");
                EXPECT_TRUE(record->Details->text().contains("21 °C, 50 %, 100,5 кПа"));
                record->ConditionsButton->click();
                EXPECT_TRUE(record->Details->text().contains("23 °C, 50 %, 100,5 кПа"));
                record->reject();
            } else if (d->objectName() == "ConditionsDialog") {
                AnswerConditions(d, "23", "50", "100,5");
            }
        });
        page.OpenRow(2);
    }
    EXPECT_EQ(opened, 1);
    EXPECT_DOUBLE_EQ(*file.journal.Get(file.ids[1])->Conditions.AirTemperature, 23.0);

    // CSV and PDF of every record.
    SelectAll(page);
    EXPECT_TRUE(page.CsvButton->isEnabled());
    prompter.savePath = Path("records.csv");
    page.CsvButton->click();
    const std::string csv = ReadFile(Path("records.csv"));
    ASSERT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u);
    for (const char* serial : {"111", "222", "333"}) EXPECT_TRUE(Contains(csv, serial));
    prompter.savePath = Path("protocols.pdf");
    page.PdfButton->click();
    EXPECT_EQ(ReadFile(Path("protocols.pdf")).rfind("%PDF", 0), 0u);
    EXPECT_EQ(prompter.Of("save").back().caption, "Протоколы_4.pdf");
    {
        DialogAnswerer print([&](QDialog* d) { PrintToFile(d, Path("printed.pdf")); });
        page.PrintButton->click();
        EXPECT_EQ(ReadFile(Path("printed.pdf")).rfind("%PDF", 0), 0u);
    }

    // The registry XML: the stopped run cannot go, and the laboratory has not set its registry fields.
    prompter.savePath = Path("registry.xml");
    const int saves = prompter.Count("save");
    page.XmlButton->click();
    EXPECT_EQ(prompter.Count("save"), saves);
    ASSERT_EQ(prompter.Count("message"), 1);
    const std::string refusal = prompter.Of("message")[0].text;
    EXPECT_TRUE(Contains(refusal, "шифр знака поверки (signCipher)")) << refusal;
    EXPECT_TRUE(Contains(refusal, "методика поверки (docTitle)")) << refusal;
    EXPECT_FALSE(std::ifstream(Path("registry.xml")).good());

    lab.TypeNumbers = {{"", "12345-06"}};
    lab.SignCipher = "ГСЧ";
    lab.OwnerDefault = "ООО «Тепло»";
    lab.MethodTitle = "МП 123-2019";
    lab.IntervalMonths = 48;
    lab.VerificationType = journal::EVerificationType::Periodic;
    lab.Standards = {"3.1.ZZZ.0001.2020"};
    // The meter's modification and year are the record's: entered in its dialog.
    page.Verdict->setCurrentIndex(1);  // годен
    page.Serial->setText("333");
    QTest::keyClick(page.Serial, Qt::Key_Return);
    SelectAll(page);
    page.XmlButton->click();
    ASSERT_EQ(prompter.Count("message"), 2);
    EXPECT_TRUE(Contains(prompter.Of("message")[1].text, "год выпуска (manufactureYear)"));
    EXPECT_FALSE(Contains(prompter.Of("message")[1].text, "signCipher"));
    {
        DialogAnswerer details([&](QDialog* d) {
            if (auto* record = qobject_cast<TRecordDialog*>(d)) {
                EXPECT_TRUE(record->Details->text().contains("модификация (modification)"));
                record->DetailsButton->click();
                EXPECT_TRUE(record->Details->text().contains("модификация ТС-07, 2021 г. выпуска"));
                EXPECT_TRUE(record->Details->text().contains("всё задано"));
                record->reject();
            } else if (d->objectName() == "DetailsDialog") {
                d->findChild<QLineEdit*>("DetailsModification")->setText("ТС-07");
                d->findChild<QSpinBox*>("DetailsYear")->setValue(2021);
                d->accept();
            }
        });
        page.OpenRow(0);
    }
    EXPECT_EQ(file.journal.Get(file.ids[3])->Meter.ManufactureYear, 2021);
    SelectAll(page);
    page.XmlButton->click();
    EXPECT_EQ(prompter.Count("message"), 2);
    const std::string xml = ReadFile(Path("registry.xml"));
    EXPECT_TRUE(Contains(xml, journal::kRegistryNamespace));
    EXPECT_TRUE(Contains(xml, "manufactureNum>333</")) << xml;
    EXPECT_TRUE(Contains(xml, "modification>ТС-07</"));
    EXPECT_FALSE(Contains(xml, "manufactureNum>111</"));
}

// The settings dialog writes what it shows to the laboratory's file and shows it again; a figure that cannot be
// taken keeps the dialog open and the file as it was. The program takes the new technician for the next runs.
TEST_F(JournalGui, TheLaboratorySettingsAreSavedAndReadBack)
{
    const std::string path = journal::LaboratorySettingsPath();
    ASSERT_TRUE(Contains(path, home_.path().toStdString()));
    journal::SLaboratorySettings lab;
    lab.Organisation = "ООО «Метрологический центр»";
    lab.TypeNumbers = {{"ТС-07", "12345-06"}};
    {
        TLaboratoryDialog dialog(lab, path);
        EXPECT_EQ(dialog.Organisation->text(), "ООО «Метрологический центр»");
        ASSERT_EQ(dialog.TypeNumbers->rowCount(), 1);
        dialog.Technician->setText("  Петрова А. С. ");
        dialog.SignCipher->setText("ГСЧ");
        dialog.IntervalMonths->setValue(48);
        dialog.VerificationType->setCurrentIndex(2);
        dialog.SignPass->setChecked(true);
        dialog.Standards->setPlainText("3.1.ZZZ.0001.2020\n\n 3.1.ZZZ.0002.2020 \n");
        QTest::mouseClick(dialog.findChild<QPushButton*>("InstrumentsAdd"), Qt::LeftButton);
        dialog.Instruments->setItem(0, 0, new QTableWidgetItem("22129-09"));
        dialog.Instruments->setItem(0, 1, new QTableWidgetItem("0457"));
        dialog.Conditions->Temperature->setText("20");
        dialog.Conditions->Pressure->setText("abc");
        DialogAnswerer answer([](QDialog* d) {
            if (auto* box = qobject_cast<QMessageBox*>(d)) box->buttons().front()->click();
        });
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        ASSERT_EQ(answer.boxes.size(), 1u);
        EXPECT_TRUE(Contains(answer.boxes[0], "Условия по умолчанию: Атмосферное давление: «abc»")) << answer.boxes[0];
        EXPECT_FALSE(std::ifstream(path).good());
        dialog.Conditions->Pressure->setText("101,3");
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    const journal::SLaboratorySettings saved = journal::LoadLaboratorySettings(path);
    EXPECT_EQ(saved.Organisation, lab.Organisation);
    EXPECT_EQ(saved.Technician, "Петрова А. С.");
    ASSERT_EQ(saved.TypeNumbers.size(), 1u);
    EXPECT_EQ(saved.TypeNumbers[0].Model, "ТС-07");
    EXPECT_EQ(saved.SignCipher, "ГСЧ");
    EXPECT_EQ(saved.IntervalMonths, 48);
    EXPECT_EQ(saved.VerificationType, journal::EVerificationType::Periodic);
    EXPECT_TRUE(saved.SignPass);
    EXPECT_FALSE(saved.SignMi);
    EXPECT_EQ(saved.Standards, (std::vector<std::string>{"3.1.ZZZ.0001.2020", "3.1.ZZZ.0002.2020"}));
    ASSERT_EQ(saved.Instruments.size(), 1u);
    EXPECT_EQ(saved.Instruments[0].Serial, "0457");
    EXPECT_DOUBLE_EQ(saved.DefaultConditions.Pressure.value_or(0), 101.3);
    EXPECT_FALSE(saved.DefaultConditions.Humidity);

    TLaboratoryDialog again(saved, path);
    EXPECT_EQ(again.Technician->text(), "Петрова А. С.");
    EXPECT_EQ(again.Standards->toPlainText(), "3.1.ZZZ.0001.2020\n3.1.ZZZ.0002.2020");
    EXPECT_EQ(again.Conditions->Pressure->text(), "101,3");
    EXPECT_EQ(again.VerificationType->currentText(), "периодическая");

    // The program's button: the technician and the default conditions reach the runs to come.
    WindowRig w(place_);
    EXPECT_EQ(w.gui.Context().Technician, "Петрова А. С.");
    DialogAnswerer answer([](QDialog* d) {
        if (auto* settings = qobject_cast<TLaboratoryDialog*>(d)) {
            settings->Technician->setText("Иванов И. И.");
            settings->Conditions->Temperature->setText("18");
            settings->accept();
        }
    });
    QTest::mouseClick(w.window.SBSettings, Qt::LeftButton);
    EXPECT_EQ(w.gui.Context().Technician, "Иванов И. И.");
    EXPECT_DOUBLE_EQ(w.gui.Context().Conditions.AirTemperature.value_or(0), 18.0);
    EXPECT_EQ(w.gui.Laboratory().Technician, "Иванов И. И.");
    EXPECT_EQ(journal::LoadLaboratorySettings(path).Technician, "Иванов И. И.");
}
