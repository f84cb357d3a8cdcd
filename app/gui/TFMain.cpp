// The main window's widgets, their bindings to the controller, and the form state.
#include "app/gui/TFMain.h"

#include "app/window/Guarded.h"
#include "app/window/IPrompter.h"
#include "app/gui/GuiLook.h"
#include "app/gui/TAboutBox.h"
#include "app/gui/TPortList.h"
#include "controls/TEditDigital.h"
#include "controls/TFormStatus.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <stdexcept>
#include <utility>

namespace rv {

namespace {

constexpr int kFlowFieldX[TFMainController::kRequiredFlowFields] = {120, 184, 248, 312, 372};

// The platform's font may need more room than the form was drawn for. The controls of a row marked to grow
// take the width their text needs, and each control moves right (never left) to keep its drawn gap to the one
// before it. Returns how far the row's right end moved.
int KeepRowGaps(std::initializer_list<std::pair<QWidget*, bool>> row)
{
    int prevDrawnEnd = 0;
    int prevEnd = 0;
    int shift = 0;
    for (const auto& [widget, grow] : row) {
        QRect r = widget->geometry();
        const int drawnX = r.x();
        const int drawnEnd = r.x() + r.width();
        if (grow) r.setWidth(std::max(r.width(), widget->sizeHint().width()));
        if (prevEnd > 0) r.moveLeft(std::max(drawnX, prevEnd + (drawnX - prevDrawnEnd)));
        widget->setGeometry(r);
        prevDrawnEnd = drawnEnd;
        prevEnd = r.x() + r.width();
        shift = prevEnd - drawnEnd;
    }
    return shift;
}

QToolButton* SpeedButton(QWidget* parent, const char* name, QRect place)
{
    auto* button = Named(new QToolButton(parent), name);
    button->setGeometry(place);
    button->setIconSize(QSize(16, 16));
    return button;
}

}  // namespace

TFMain::TFMain(TFMainController& controller, IPrompter& prompter, const std::vector<std::string>& ports,
               const SFormStatePlace& place, QWidget* parent)
    : QWidget(parent), ctl_(controller), prompter_(prompter)
{
    setObjectName(QStringLiteral("FMain"));
    setWindowTitle(QStringLiteral("Rivanta"));
    setFont(FormFont());
    move(288, 171);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    PageControl1->setTabPosition(QTabWidget::South);
    root->addWidget(PageControl1, 1);

    Panel3 = Panel(this, "Panel3", 29, QFrame::Sunken);
    LStatus = Named(new QLabel(Panel3), "LStatus");
    LStatus->move(8, 8);
    root->addWidget(Panel3);

    TabSheet1 = Named(new QWidget, "TabSheet1");
    BuildVerificationPage(ports);
    PageControl1->addTab(TabSheet1, QStringLiteral("Поверка"));
    TabSheet2 = Named(new QWidget, "TabSheet2");
    PageControl1->addTab(TabSheet2, QStringLiteral("Просмотр KFS"));
    PageControl1->setCurrentIndex(0);
    const int wider = KeepRowGaps(
        {{CBPortName, true}, {SBOpenClose, true}, {ChBDopInfo, true}, {SpeedButton3, false}, {SpeedButton1, false}});
    resize(525 + std::max(0, wider), 484);

    FormStatus1 = new TFormStatus(this, place);
    FormStatus1->setObjectName(QStringLiteral("FormStatus1"));
    FormStatus1->SP_Left = true;
    FormStatus1->SP_Top = true;
    FormStatus1->SP_Width = true;
    FormStatus1->SP_Height = true;
    FormStatus1->Text_ComboBox = true;

    PaintAll();
    BindInputs();
    ctl_.OnViewChanged = [this](TViewChange change) {
        Paint(change);
        emit ViewChanged(change);
    };
}

TFMain::~TFMain()
{
    ctl_.OnViewChanged.Clear();
}

void TFMain::BuildVerificationPage(const std::vector<std::string>& ports)
{
    auto* page = new QVBoxLayout(TabSheet1);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);

    Panel1 = Panel(TabSheet1, "Panel1", 33, QFrame::Raised);
    const std::vector<std::string> items = PortItems(ports);
    CBPortName = PortBox(Panel1, "CBPortName", items);
    // A COM name this machine has no port for would fail on connect: the first port present is offered instead.
    if (!items.empty() && std::find(items.begin(), items.end(), ctl_.View().CBPortNameText) == items.end())
        ctl_.SetCBPortNameText(items.front());
    SBOpenClose = SpeedButton(Panel1, "SBOpenClose", QRect(80, 6, 148, 22));
    SBOpenClose->setCheckable(true);
    SBOpenClose->setText(QStringLiteral("Установить соединение"));
    ChBDopInfo = Named(new QCheckBox(QStringLiteral("Вывод дополнительной информации"), Panel1), "ChBDopInfo");
    ChBDopInfo->setGeometry(239, 8, 211, 17);
    SpeedButton3 = SpeedButton(Panel1, "SpeedButton3", QRect(456, 6, 23, 22));
    SpeedButton3->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
    SpeedButton3->setToolTip(QStringLiteral("О программе"));
    SpeedButton1 = SpeedButton(Panel1, "SpeedButton1", QRect(480, 6, 23, 22));
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    SpeedButton1->setToolTip(QStringLiteral("Сохранить отчет"));
    page->addWidget(Panel1);

    Memo1 = Named(new QPlainTextEdit(TabSheet1), "Memo1");
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    page->addWidget(Memo1, 1);

    ProgressBar3 = Named(new QProgressBar(TabSheet1), "ProgressBar3");
    ProgressBar3->setFixedHeight(16);
    ProgressBar3->setTextVisible(true);
    ProgressBar3->setAlignment(Qt::AlignCenter);
    page->addWidget(ProgressBar3);

    Panel2 = Panel(TabSheet1, "Panel2", 56, QFrame::Raised);
    Label5 = Named(new QLabel(QStringLiteral("Требуемый расход"), Panel2), "Label5");
    Label5->move(8, 8);
    Button1 = Named(new QPushButton(QStringLiteral("Поверка"), Panel2), "Button1");
    Button1->setGeometry(8, 24, 75, 25);
    ButtonStop = Named(new QPushButton(QStringLiteral("Стоп"), Panel2), "ButtonStop");
    ButtonStop->setGeometry(420, 24, 75, 25);
    ButtonStop->setToolTip(QStringLiteral("Остановить поверку: режим эмуляции в приборе выключается"));
    for (size_t k = 0; k < EditDigital.size(); ++k) {
        auto* edit = new TEditDigital(Panel2);
        edit->setObjectName(QStringLiteral("EditDigital%1").arg(8 + static_cast<int>(k)));
        edit->SetDigitalType(deFloat);
        edit->SetMinValue(0.5L);
        edit->setGeometry(kFlowFieldX[k], 4, 57, 22);
        edit->SetErrorDisplay(
            [this](const std::string& message) { prompter_.ShowException(std::runtime_error(message)); });
        EditDigital[k] = edit;
    }
    ChB_back = Named(new QCheckBox(QStringLiteral("+ Поток в обратном направлении."), Panel2), "ChB_back");
    ChB_back->setGeometry(120, 32, 249, 17);
    page->addWidget(Panel2);
}

void TFMain::BindInputs()
{
    // The box shows a port by its short name; the controller gets its full path.
    connect(CBPortName, &QComboBox::editTextChanged, this, [this] {
        const std::string path = TPortList::Of(CBPortName)->Path();
        CBPortName->setToolTip(Qs(path));
        ctl_.SetCBPortNameText(path);
    });
    connect(SBOpenClose, &QToolButton::clicked, this, [this](bool down) {
        ctl_.SetSBOpenCloseDown(down);
        ctl_.SBOpenCloseClick();
    });
    connect(ChBDopInfo, &QCheckBox::toggled, this, [this](bool on) { ctl_.SetChBDopInfoChecked(on); });
    connect(ChB_back, &QCheckBox::toggled, this, [this](bool on) { ctl_.SetChB_backChecked(on); });
    for (size_t k = 0; k < EditDigital.size(); ++k)
        connect(EditDigital[k], &QLineEdit::textChanged, this,
                [this, k](const QString& text) { ctl_.SetEditDigitalText(static_cast<int>(k), Ss(text)); });
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int page) { ctl_.SetActivePage(page); });
    connect(Button1, &QPushButton::clicked, this, [this] { ctl_.Button1Click(); });
    connect(ButtonStop, &QPushButton::clicked, this, [this] { ctl_.ButtonStopClick(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { ctl_.SpeedButton1Click(); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
}

void TFMain::SetKfsPage(QWidget* page)
{
    auto* layout = new QVBoxLayout(TabSheet2);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page);
}

void TFMain::SetPortName(const std::string& name)
{
    CBPortName->setEditText(TPortList::Of(CBPortName)->TextFor(name));
}

// --- Painting the view state

void TFMain::Paint(TViewChange change)
{
    switch (change) {
        case vcStatus:
            LStatus->setText(Qs(ctl_.View().LStatusCaption));
            LStatus->adjustSize();
            break;
        case vcMemoCleared:
            Memo1->clear();
            memoLines_ = 0;
            PaintNewLines();
            break;
        case vcMemoAdded:
            PaintNewLines();
            break;
        case vcProgress:
            PaintProgress();
            break;
        case vcControls:
            PaintControls();
            break;
        case vcEdits:
            PaintEdits();
            break;
        case vcStage:
        case vcPhase:
        case vcPoints:
            break;
        case vcClose:
            close();
            break;
    }
}

void TFMain::PaintAll()
{
    Paint(vcStatus);
    Paint(vcMemoCleared);
    PaintProgress();
    PaintControls();
    PaintEdits();
}

void TFMain::PaintNewLines()
{
    const std::vector<std::string>& lines = ctl_.View().Memo1Lines;
    if (lines.size() < memoLines_) {
        Memo1->clear();
        memoLines_ = 0;
    }
    for (; memoLines_ < lines.size(); ++memoLines_) Memo1->appendPlainText(Qs(lines[memoLines_]));
}

void TFMain::PaintProgress()
{
    const SMainView& v = ctl_.View();
    ProgressBar3->setRange(v.ProgressBar3Min, std::max(v.ProgressBar3Min, v.ProgressBar3Max));
    ProgressBar3->setValue(std::clamp(v.ProgressBar3Position, ProgressBar3->minimum(), ProgressBar3->maximum()));
    // The whole run in per mille, shown as a percentage; nothing on an empty bar.
    ProgressBar3->setFormat(v.ProgressBar3Position > v.ProgressBar3Min ? QStringLiteral("%p %") : QString());
}

void TFMain::PaintControls()
{
    const SMainView& v = ctl_.View();
    const QSignalBlocker b1(CBPortName), b2(SBOpenClose), b3(ChBDopInfo), b4(ChB_back), b5(PageControl1);
    TPortList* ports = TPortList::Of(CBPortName);
    if (ports->Path() != v.CBPortNameText) ports->SetPath(v.CBPortNameText);
    CBPortName->setToolTip(Qs(v.CBPortNameText));
    CBPortName->setEnabled(v.CBPortNameEnabled);
    SBOpenClose->setChecked(v.SBOpenCloseDown);
    // The caption says what pressing the button does.
    SBOpenClose->setText(v.SBOpenCloseDown ? QStringLiteral("Разорвать соединение")
                                           : QStringLiteral("Установить соединение"));
    ChBDopInfo->setChecked(v.ChBDopInfoChecked);
    Button1->setEnabled(v.Button1Enabled);
    ButtonStop->setEnabled(v.ButtonStopEnabled);
    ChB_back->setEnabled(v.ChB_backEnabled);
    ChB_back->setChecked(v.ChB_backChecked);
    PageControl1->setTabVisible(0, v.TabSheet1Visible);
    PageControl1->setTabEnabled(0, v.TabSheet1Enabled);
    PageControl1->setTabVisible(1, v.TabSheet2Visible);
    PageControl1->setTabEnabled(1, v.TabSheet2Enabled);
    PageControl1->setCurrentIndex(v.ActivePage);
    // The page control keeps a visible page current; the controller learns which one it kept.
    if (PageControl1->currentIndex() != v.ActivePage) ctl_.SetActivePage(PageControl1->currentIndex());
}

void TFMain::PaintEdits()
{
    const SMainView& v = ctl_.View();
    for (size_t k = 0; k < EditDigital.size(); ++k) {
        const QString text = Qs(v.EditDigitalText[k]);
        if (EditDigital[k]->text() == text) continue;
        const QSignalBlocker block(EditDigital[k]);
        EditDigital[k]->setText(text);
    }
}

// --- Window handlers

void TFMain::FormShow()
{
    Guarded(prompter_, [&] { FormStatus1->SetSizePosition(); });
}

void TFMain::FormClose()
{
    Guarded(prompter_, [&] { FormStatus1->SaveSizePosition(); });
}

void TFMain::SpeedButton3Click()
{
    TAboutBox about(this);
    about.exec();
}

void TFMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous() || shown_) return;
    shown_ = true;
    FormShow();
}

void TFMain::closeEvent(QCloseEvent* event)
{
    // A run under way is stopped and an unsaved protocol offered for saving first; the controller asks for the
    // close again when that is done.
    if (!ctl_.CloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

}  // namespace rv
