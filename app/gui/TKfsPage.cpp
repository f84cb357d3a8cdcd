// The KFS page's widgets and their bindings to its controller.
#include "app/gui/TKfsPage.h"

#include "app/window/Guarded.h"
#include "app/window/IPrompter.h"
#include "app/gui/GuiLook.h"
#include "app/gui/TPortList.h"
#include "controls/TEditDigital.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <stdexcept>

namespace rv {

namespace {

constexpr int kRowY[TForm1Controller::kKfsFields] = {16, 40, 64};  // the labels
constexpr int kEditY[TForm1Controller::kKfsFields] = {8, 32, 56};  // the fields

}  // namespace

TKfsPage::TKfsPage(TKfsPageController& controller, IPrompter& prompter, const std::vector<std::string>& ports,
                   QWidget* parent)
    : QWidget(parent), ctl_(controller), prompter_(prompter)
{
    setObjectName(QStringLiteral("KfsPage"));
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);

    Panel4 = Panel(this, "Panel4", 33, QFrame::Sunken);
    const std::vector<std::string> items = PortItems(ports);
    ComboBox1 = PortBox(Panel4, QStringLiteral("ComboBox1"), items);
    ctl_.SetComboBox1Items(items);
    // As on the verification page: the first port present rather than a COM name the machine has no port for.
    if (!items.empty() && std::find(items.begin(), items.end(), ctl_.View().ComboBox1Text) == items.end()) {
        ctl_.SetComboBox1Text(items.front());
        ctl_.SetComboBox1ItemIndex(0);
        ctl_.ComboBox1Change();
    }
    // The box grows to the port names; the controls after it keep their drawn gap (7) to it.
    ComboBox1->resize(std::max(ComboBox1->width(), ComboBox1->sizeHint().width()), ComboBox1->height());
    const int shift = std::max(0, ComboBox1->geometry().right() + 1 + 7 - 80);
    SpeedButton2 = Named(new QToolButton(Panel4), QStringLiteral("SpeedButton2"));
    SpeedButton2->setCheckable(true);
    SpeedButton2->setText(QStringLiteral("Установить соединение"));
    SpeedButton2->setGeometry(80 + shift, 6, std::max(148, SpeedButton2->sizeHint().width()), 22);
    Button2 = Named(new QPushButton(QStringLiteral("Записать"), Panel4), QStringLiteral("Button2"));
    Button2->setGeometry(std::max(376 + shift, SpeedButton2->geometry().right() + 1 + 8), 6, 75, 25);
    page->addWidget(Panel4);

    Panel5 = Panel(this, "Panel5", 104, QFrame::Sunken);
    for (int k = 0; k < TForm1Controller::kKfsFields; ++k) {
        const size_t i = static_cast<size_t>(k);
        Label[i] = Named(new QLabel(Panel5), QStringLiteral("Label%1").arg(k + 1));
        Label[i]->move(8, kRowY[k]);
        auto* edit = new TEditDigital(Panel5);
        edit->setObjectName(QStringLiteral("EditDigital%1").arg(k + 1));
        edit->SetDigitalType(deFloat);
        edit->setGeometry(280, kEditY[k], 89, 21);
        edit->SetErrorDisplay(
            [this](const std::string& message) { prompter_.ShowException(std::runtime_error(message)); });
        EditDigital[i] = edit;
    }
    page->addWidget(Panel5);
    page->addStretch(1);

    PaintControls();
    PaintKfs();
    BindInputs();
    ctl_.OnViewChanged = [this](TKfsPageChange change) {
        if (change == kcKfs)
            PaintKfs();
        else
            PaintControls();
        emit ViewChanged(change);
    };
}

TKfsPage::~TKfsPage()
{
    ctl_.OnViewChanged.Clear();
}

void TKfsPage::SetPortName(const std::string& name)
{
    ComboBox1->setEditText(TPortList::Of(ComboBox1)->TextFor(name));
}

void TKfsPage::BindInputs()
{
    // The box's change follows both typing and picking an item; the index is the matching item's, or -1. The box
    // shows a port by its short name; the controller gets its full path.
    connect(ComboBox1, &QComboBox::editTextChanged, this, [this](const QString& text) {
        Guarded(prompter_, [&] {
            const std::string path = TPortList::Of(ComboBox1)->Path();
            ComboBox1->setToolTip(Qs(path));
            ctl_.SetComboBox1Text(path);
            ctl_.SetComboBox1ItemIndex(ComboBox1->findText(text));
            ctl_.ComboBox1Change();
        });
    });
    connect(TPortList::Of(ComboBox1), &TPortList::ItemsChanged, this,
            [this] { ctl_.SetComboBox1Items(TPortList::Of(ComboBox1)->Paths()); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this](bool down) {
        Guarded(prompter_, [&] {
            ctl_.SetSpeedButton2Down(down);
            ctl_.SpeedButton2Click();
        });
    });
    for (size_t k = 0; k < EditDigital.size(); ++k)
        connect(EditDigital[k], &QLineEdit::textChanged, this,
                [this, k](const QString& text) { ctl_.SetEditDigitalText(static_cast<int>(k), Ss(text)); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded(prompter_, [&] { ctl_.Button2Click(); }); });
}

void TKfsPage::PaintControls()
{
    const SKfsPageView& v = ctl_.View();
    const QSignalBlocker b1(ComboBox1), b2(SpeedButton2);
    TPortList* ports = TPortList::Of(ComboBox1);
    if (ports->Path() != v.ComboBox1Text) ports->SetPath(v.ComboBox1Text);
    ComboBox1->setEnabled(v.ComboBox1Enabled);
    SpeedButton2->setChecked(v.SpeedButton2Down);
    // The caption says what pressing the button does.
    SpeedButton2->setText(v.SpeedButton2Down ? QStringLiteral("Разорвать соединение")
                                             : QStringLiteral("Установить соединение"));
    Button2->setVisible(v.Button2Visible);
    Button2->setEnabled(v.Button2Enabled);
}

void TKfsPage::PaintKfs()
{
    const SKfsPageView& v = ctl_.View();
    for (size_t k = 0; k < Label.size(); ++k) {
        Label[k]->setText(Qs(v.Label[k].Caption));
        Label[k]->adjustSize();
        Label[k]->setVisible(v.Label[k].Visible);
        const QString text = Qs(v.EditDigital[k].Text);
        if (EditDigital[k]->text() != text) {
            const QSignalBlocker block(EditDigital[k]);
            EditDigital[k]->setText(text);
        }
        EditDigital[k]->setVisible(v.EditDigital[k].Visible);
    }
}

}  // namespace rv
