// The GUI program's start-up.
#include "app/gui/TRivantaGui.h"

#include "app/verify/TFMainController.h"
#include "app/kfs/TForm1Controller.h"
#include "app/kfs/TKfsPageController.h"
#include "app/gui/GuiLook.h"
#include "app/gui/TBenchPage.h"
#include "app/gui/TFMain.h"
#include "app/gui/TFSelectSensor.h"
#include "app/gui/TGuiJournal.h"
#include "app/gui/TKfsPage.h"
#include "controls/TFormStatus.h"
#include "core/qt/QtLoop.h"
#include "serial/TNewDevCom.h"
#include "sim/BenchMeters.h"
#include "sim/MeterDescription.h"
#include "sim/PtyMeterServer.h"
#include "sim/SimMeter.h"

#include <QComboBox>
#include <QWidget>

namespace rv {

TRivantaGui::TRivantaGui(const SGuiOptions& options, const SFormStatePlace& place)
    : options_(options), loop_(std::make_unique<QtLoop>())
{
    if (options_.Simulate) {
        auto image = options_.MeterFile.empty() ? sim::DefaultMeter() : sim::LoadMeter(options_.MeterFile);
        simulator_ = std::make_unique<sim::PtyMeterServer>(std::make_unique<sim::SimMeter>(image));
        options_.Port = simulator_->SlavePath();
    }

    link_ = std::make_unique<TNewDevCom>(nullptr, loop_.get());
    link_->SetName("NewDevCom1");
    link_->SetCommNet("COM2");
    link_->SetBaudRate(br9600);
    controller_ = std::make_unique<TFMainController>(*link_, prompter_, loop_.get());

    fmain_ = std::make_unique<TFMain>(*controller_, prompter_, TNewDevCom::ListPorts(), place);
    selectTest_ = new TFSelectSensorTest(fmain_.get());
    form1_ = std::make_unique<QWidget>();
    form1_->setObjectName(QStringLiteral("Form1"));
    form1_->setWindowTitle(QStringLiteral("Form1"));
    form1_->setFont(FormFont());
    form1_->setGeometry(768, 177, 408, 188);
    // Form1 talks to the meter through its own link; the main window's KFS page drives it.
    form1Link_ = std::make_unique<TNewDevCom>(nullptr, loop_.get());
    form1Link_->SetName("NewDevCom1");
    form1Link_->SetCommNet("COM2");
    form1Link_->SetBaudRate(br9600);
    form1Controller_ = std::make_unique<TForm1Controller>(*form1Link_, prompter_, loop_.get());
    kfsPageController_ = std::make_unique<TKfsPageController>(*controller_, *form1Controller_, prompter_);
    const std::vector<std::string> ports = TNewDevCom::ListPorts();
    kfsPage_ = new TKfsPage(*kfsPageController_, prompter_, ports);
    fmain_->SetKfsPage(kfsPage_);
    // The KFS page drives Form1's port box, as its connect and its box's change do: Form1's section of the form
    // state then keeps the page's port, and a port restored there comes back to the page.
    form1PortBox_ = PortBox(form1_.get(), QStringLiteral("CBPortName"), PortItems(ports));
    form1PortBox_->setEditText(kfsPage_->ComboBox1->currentText());
    QObject::connect(kfsPage_->ComboBox1, &QComboBox::editTextChanged, form1PortBox_, [this](const QString& text) {
        if (form1PortBox_->currentText() != text) form1PortBox_->setEditText(text);
    });
    QObject::connect(form1PortBox_, &QComboBox::editTextChanged, kfsPage_, [this](const QString& text) {
        if (kfsPage_->ComboBox1->currentText() != text) kfsPage_->SetPortName(Ss(text));
    });
    select_ = new TFSelectSensor(fmain_.get(), sdChange);
    journal_ = std::make_unique<TGuiJournal>(*controller_, *fmain_, prompter_);
    AddBenchPage(ports);

    prompter_.SetWindows(fmain_.get(), selectTest_, select_);
    fmain_->FormStatus1->SetForms({fmain_.get(), selectTest_, form1_.get(), select_});
}

TRivantaGui::~TRivantaGui()
{
    prompter_.SetWindows(nullptr, nullptr, nullptr);
    journal_.reset();
    fmain_.reset();
    bench_.reset();
    benchSimulators_.clear();
    kfsPageController_.reset();
    form1Controller_.reset();
    form1Link_.reset();
    form1_.reset();
    controller_.reset();
    link_.reset();
    simulator_.reset();
}

void TRivantaGui::AddBenchPage(const std::vector<std::string>& ports)
{
    // Every meter of the bench gets a link of its own, set up as the main window's.
    bench_ = std::make_unique<TBench>(*loop_, [this](const SBenchMeterOptions&) {
        auto link = std::make_unique<TNewDevCom>(nullptr, loop_.get());
        link->SetBaudRate(br9600);
        return link;
    });
    // The bench's runs are recorded in the journal of the verification page, with its technician and conditions.
    bench_->SetJournal(journal_->Journal(), journal_->Context());
    QObject::connect(journal_.get(), &TGuiJournal::ContextChanged, journal_.get(),
                     [this] { bench_->SetJournal(journal_->Journal(), journal_->Context()); });
    benchPage_ = new TBenchPage(*bench_, prompter_, ports);
    fmain_->PageControl1->addTab(benchPage_, QStringLiteral("Стенд"));
    fmain_->installEventFilter(benchPage_);
    for (const sim::BenchMeter& m : sim::BenchMeters(options_.BenchSimulate)) {
        benchSimulators_.push_back(std::make_unique<sim::PtyMeterServer>(std::make_unique<sim::SimMeter>(m.image)));
        benchPage_->AddRow(benchSimulators_.back()->SlavePath(), m.sensor);
    }
}

void TRivantaGui::Show()
{
    fmain_->show();
    journal_->Shown();
    if (options_.Port.empty()) return;
    fmain_->SetPortName(options_.Port);
    kfsPage_->SetPortName(options_.Port);
}

}  // namespace rv
