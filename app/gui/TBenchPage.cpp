// The "Стенд" page and its meter dialog.
#include "app/gui/TBenchPage.h"

#include "app/bench/BenchFile.h"
#include "app/gui/GuiLook.h"
#include "app/gui/TPortList.h"
#include "app/window/IPrompter.h"
#include "journal/TJournal.h"
#include "journal/Verdict.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace rv {

namespace {

const char* const kHeadings[bcColumns] = {"Порт", "Датчик", "Счетчик", "Состояние", "Этап", "Ход", "Итог", ""};

QString Lines(const std::vector<std::string>& lines)
{
    QStringList list;
    for (const std::string& l : lines) list << Qs(l);
    return list.join('\n');
}

QTableWidgetItem* Text(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

}  // namespace

TBenchPage::TBenchPage(TBench& bench, IPrompter& prompter, const std::vector<std::string>& ports, QWidget* parent)
    : QWidget(parent), bench_(bench), prompter_(prompter), ports_(ports)
{
    setObjectName(QStringLiteral("TabSheetBench"));
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);

    QFrame* panel = Panel(this, "PanelBench", 33, QFrame::Raised);
    auto* tools = new QHBoxLayout(panel);
    tools->setContentsMargins(4, 2, 4, 2);
    ButtonAdd = Named(new QPushButton(QStringLiteral("Добавить"), panel), "ButtonAdd");
    ButtonAdd->setToolTip(QStringLiteral("Добавить строку прибора"));
    ButtonRemove = Named(new QPushButton(QStringLiteral("Удалить"), panel), "ButtonRemove");
    ButtonRemove->setToolTip(QStringLiteral("Удалить выбранную строку"));
    ButtonStartAll = Named(new QPushButton(QStringLiteral("Начать все"), panel), "ButtonStartAll");
    ButtonStartAll->setToolTip(QStringLiteral("Начать поверку всех приборов, которые не поверяются"));
    ButtonStopAll = Named(new QPushButton(QStringLiteral("Стоп"), panel), "ButtonStopAll");
    ButtonStopAll->setToolTip(QStringLiteral("Остановить поверку всех приборов: режим эмуляции в каждом выключается"));
    ChBReverse = Named(new QCheckBox(QStringLiteral("+ Поток в обратном направлении."), panel), "ChBBenchReverse");
    ChBExtraInfo = Named(new QCheckBox(QStringLiteral("Вывод дополнительной информации"), panel), "ChBBenchInfo");
    for (QWidget* w : std::initializer_list<QWidget*>{ButtonAdd, ButtonRemove, ButtonStartAll, ButtonStopAll})
        tools->addWidget(w);
    tools->addSpacing(8);
    tools->addWidget(ChBReverse);
    tools->addWidget(ChBExtraInfo);
    tools->addStretch(1);
    page->addWidget(panel);

    Table = Named(new QTableWidget(0, bcColumns, this), "TableBench");
    QStringList headings;
    for (const char* h : kHeadings) headings << QString::fromUtf8(h);
    Table->setHorizontalHeaderLabels(headings);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->verticalHeader()->setVisible(false);
    Table->horizontalHeader()->setSectionResizeMode(bcVerdict, QHeaderView::Stretch);
    Table->setColumnWidth(bcPort, 110);
    Table->setColumnWidth(bcSensor, 70);
    Table->setColumnWidth(bcSerial, 60);
    Table->setColumnWidth(bcState, 110);
    Table->setColumnWidth(bcPhase, 150);
    Table->setColumnWidth(bcProgress, 70);
    Table->setColumnWidth(bcStop, 50);
    page->addWidget(Table, 1);

    connect(ButtonAdd, &QPushButton::clicked, this, [this] { AddRow(); });
    connect(ButtonRemove, &QPushButton::clicked, this, [this] { RemoveRow(); });
    connect(ButtonStartAll, &QPushButton::clicked, this, [this] { StartAll(); });
    connect(ButtonStopAll, &QPushButton::clicked, this,
            [this] { bench_.StopAll("остановлена техником"); });
    connect(Table, &QTableWidget::itemSelectionChanged, this, [this] { PaintButtons(); });
    connect(Table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { ShowMeter(row); });

    bench_.OnChanged = [this](size_t slot, TViewChange change) {
        if (change == vcProgress || change == vcPhase || change == vcStage || change == vcStatus)
            PaintRow(static_cast<int>(slot));
    };
    bench_.OnState = [this](size_t slot) {
        PaintRow(static_cast<int>(slot));
        PaintButtons();
    };
    bench_.OnAllReleased = [this] {
        PaintButtons();
        // The window asked to close waited for this.
        if (closeAsked_) window()->close();
    };
    PaintButtons();
}

TBenchPage::~TBenchPage()
{
    bench_.OnChanged = nullptr;
    bench_.OnState = nullptr;
    bench_.OnAllReleased = nullptr;
}

void TBenchPage::SetJournal(journal::TJournal* journal, const SRunRecordContext& context)
{
    journal_ = journal;
    bench_.SetJournal(journal, context);
}

size_t TBenchPage::AddRow(const std::string& port, std::optional<int> sensor)
{
    const int row = Table->rowCount();
    Table->insertRow(row);
    QComboBox* portBox = PortBox(nullptr, QString(), PortItems(ports_));
    if (!port.empty()) TPortList::Of(portBox)->SetPath(port);
    Table->setCellWidget(row, bcPort, portBox);
    auto* sensorBox = new QComboBox;
    sensorBox->addItem(QStringLiteral("первый"));
    for (int s = 0; s < 6; ++s) sensorBox->addItem(QString::number(s));
    sensorBox->setToolTip(QStringLiteral("Позиция датчика; \"первый\" - первый из предложенных прибором"));
    if (sensor) sensorBox->setCurrentIndex(*sensor + 1);
    Table->setCellWidget(row, bcSensor, sensorBox);
    auto* progress = new QProgressBar;
    progress->setRange(0, 1000);
    progress->setValue(0);
    progress->setFormat(QStringLiteral("%p %"));
    Table->setCellWidget(row, bcProgress, progress);
    auto* stop = new QPushButton(QStringLiteral("Стоп"));
    stop->setToolTip(QStringLiteral("Остановить поверку этого прибора: режим эмуляции в нем выключается"));
    Table->setCellWidget(row, bcStop, stop);
    connect(stop, &QPushButton::clicked, this, [this, stop] {
        for (int r = 0; r < Table->rowCount(); ++r)
            if (StopButtonOf(r) == stop) bench_.Stop(static_cast<size_t>(r), "остановлена техником");
    });
    for (int c : {bcSerial, bcState, bcPhase, bcVerdict}) Table->setItem(row, c, Text({}));
    const size_t slot = bench_.Add(OptionsOf(row));
    PaintRow(row);
    PaintButtons();
    return slot;
}

void TBenchPage::RemoveRow()
{
    const QList<QTableWidgetSelectionRange> ranges = Table->selectedRanges();
    const int row = ranges.isEmpty() ? Table->rowCount() - 1 : ranges.front().topRow();
    if (row < 0 || !bench_.Remove(static_cast<size_t>(row))) return;
    Table->removeRow(row);
    PaintButtons();
}

QComboBox* TBenchPage::PortBoxOf(int row) const
{
    return qobject_cast<QComboBox*>(Table->cellWidget(row, bcPort));
}

QComboBox* TBenchPage::SensorBoxOf(int row) const
{
    return qobject_cast<QComboBox*>(Table->cellWidget(row, bcSensor));
}

QPushButton* TBenchPage::StopButtonOf(int row) const
{
    return qobject_cast<QPushButton*>(Table->cellWidget(row, bcStop));
}

SBenchMeterOptions TBenchPage::OptionsOf(int row) const
{
    SBenchMeterOptions o;
    o.Port = TPortList::Of(PortBoxOf(row))->Path();
    const int sensor = SensorBoxOf(row)->currentIndex();
    if (sensor > 0) o.Sensor = sensor - 1;
    o.Reverse = ChBReverse->isChecked();
    o.ExtraInfo = ChBExtraInfo->isChecked();
    // The questions of a meter on a bench are answered No: that meter stops with its reason, the others go on.
    o.AnswerYes = false;
    return o;
}

void TBenchPage::StartAll()
{
    std::vector<SBenchMeterOptions> meters;
    for (int row = 0; row < Table->rowCount(); ++row) {
        meters.push_back(OptionsOf(row));
        if (meters.back().Port.empty()) {
            prompter_.Message("Порт в строке " + std::to_string(row + 1) + " не задан.", "Стенд");
            return;
        }
    }
    std::string error;
    if (!DistinctPorts(meters, error)) {
        prompter_.Message(error, "Стенд");
        return;
    }
    for (int row = 0; row < Table->rowCount(); ++row) bench_.SetOptions(static_cast<size_t>(row), meters[static_cast<size_t>(row)]);
    bench_.StartAll();
    PaintButtons();
}

void TBenchPage::PaintRow(int row)
{
    if (row < 0 || row >= Table->rowCount()) return;
    const TBenchMeter* m = bench_.Meter(static_cast<size_t>(row));
    const bool running = bench_.Running(static_cast<size_t>(row));
    PortBoxOf(row)->setEnabled(!running);
    SensorBoxOf(row)->setEnabled(!running);
    StopButtonOf(row)->setEnabled(running && m && !m->Finished());
    const auto set = [&](int column, const std::string& text) {
        QTableWidgetItem* item = Table->item(row, column);
        if (item->text() != Qs(text)) item->setText(Qs(text));
        item->setToolTip(Qs(text));
    };
    set(bcSerial, m ? m->MeterSerial() : std::string());
    set(bcState, m ? m->StateText() : "ожидает");
    set(bcPhase, m && !m->Finished() ? m->Controller().View().RunPhase : std::string());
    set(bcVerdict, m && m->Finished() ? m->Verdict() : std::string());
    auto* progress = qobject_cast<QProgressBar*>(Table->cellWidget(row, bcProgress));
    const int position = !m ? 0 : m->Finished() && m->Outcome() == boComplete ? 1000
                                                                              : m->Controller().View().ProgressBar3Position;
    if (progress->value() != position) progress->setValue(position);
    emit RowChanged(row);
}

void TBenchPage::PaintButtons()
{
    bool idle = false;
    for (int row = 0; row < Table->rowCount(); ++row) idle = idle || !bench_.Running(static_cast<size_t>(row));
    ButtonStartAll->setEnabled(idle);
    ButtonStopAll->setEnabled(bench_.AnyRunning());
    const QList<QTableWidgetSelectionRange> ranges = Table->selectedRanges();
    const int row = ranges.isEmpty() ? Table->rowCount() - 1 : ranges.front().topRow();
    ButtonRemove->setEnabled(row >= 0 && !bench_.Running(static_cast<size_t>(row)));
}

bool TBenchPage::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Close && bench_.AnyRunning()) {
        // Every meter switches its emulation off and lets its port go first; the window closes then.
        closeAsked_ = true;
        bench_.StopAll("окно закрыто");
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QDialog* TBenchPage::ShowMeter(int row)
{
    if (row < 0 || row >= Table->rowCount() || !bench_.Meter(static_cast<size_t>(row))) return nullptr;
    auto* dialog = new TBenchMeterDialog(bench_, static_cast<size_t>(row), journal_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(this, &TBenchPage::RowChanged, dialog, [dialog, row](int changed) {
        if (changed == row) dialog->Refresh();
    });
    // Window-modal: the rows stay as they are while it is open.
    dialog->open();
    return dialog;
}

// --- The meter's dialog

TBenchMeterDialog::TBenchMeterDialog(TBench& bench, size_t slot, journal::TJournal* journal, QWidget* parent)
    : QDialog(parent), bench_(bench), slot_(slot), journal_(journal)
{
    setObjectName(QStringLiteral("BenchMeter"));
    setWindowTitle(QStringLiteral("Стенд: ") + Qs(bench_.Options(slot_).Port));
    setFont(FormFont());
    resize(640, 520);
    auto* root = new QVBoxLayout(this);
    LVerdict = Named(new QLabel(this), "LVerdict");
    LVerdict->setWordWrap(true);
    root->addWidget(LVerdict);
    auto* tabs = new QTabWidget(this);
    Protocol = Named(new QPlainTextEdit, "Protocol");
    Protocol->setReadOnly(true);
    tabs->addTab(Protocol, QStringLiteral("Протокол"));
    Points = Named(new QTableWidget(0, 7), "Points");
    Points->setHorizontalHeaderLabels({QStringLiteral("Направление"), QStringLiteral("Номинальный, м3/ч"),
                                       QStringLiteral("Установленный, м3/ч"), QStringLiteral("Измеренный, м3/ч"),
                                       QStringLiteral("Погрешность, %"), QStringLiteral("Допустимая, %"),
                                       QStringLiteral("Итог")});
    Points->verticalHeader()->setVisible(false);
    Points->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tabs->addTab(Points, QStringLiteral("Точки"));
    Course = Named(new QPlainTextEdit, "Course");
    Course->setReadOnly(true);
    tabs->addTab(Course, QStringLiteral("Ход работы"));
    root->addWidget(tabs, 1);
    auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    root->addWidget(close, 0, Qt::AlignRight);
    Refresh();
}

void TBenchMeterDialog::Refresh()
{
    const TBenchMeter* m = bench_.Meter(slot_);
    if (!m) return;
    // The journal's record where there is one, else the run as the journal would record it.
    std::optional<journal::SVerificationRecord> record;
    try {
        if (journal_ && m->RecordId() != 0) record = journal_->Get(m->RecordId());
    } catch (const std::exception& e) {
        LVerdict->setText(QStringLiteral("Журнал поверок: ") + QString::fromUtf8(e.what()));
    }
    std::string verdict = m->Finished() ? m->Verdict() : m->StateText();
    if (record) {
        verdict = std::string("Протокол № ") + std::to_string(record->Id) + " в журнале: " +
                  journal::StateText(record->State) + (record->Outcome.empty() ? "" : ": " + record->Outcome);
    } else {
        record = TRunRecorder::Snapshot(m->Controller(), {});
    }
    const std::string serial = m->MeterSerial();
    const std::string sensor = m->SensorSize();
    LVerdict->setText(Qs((serial.empty() ? std::string() : "Счетчик №" + serial) +
                         (sensor.empty() ? std::string() : ", датчик " + sensor) + (serial.empty() ? "" : ": ") +
                         verdict));
    const QString text = Lines(m->Controller().View().Memo1Lines);
    if (Protocol->toPlainText() != text) Protocol->setPlainText(text);
    QStringList course;
    for (const SBenchLogLine& l : m->Log())
        course << QStringLiteral("%1 с  ").arg(static_cast<double>(l.Ms) / 1000.0, 0, 'f', 1) + Qs(l.Text);
    if (Course->toPlainText() != course.join('\n')) Course->setPlainText(course.join('\n'));
    Points->setRowCount(static_cast<int>(record->Points.size()));
    for (size_t i = 0; i < record->Points.size(); ++i) {
        const journal::SVerificationPoint& p = record->Points[i];
        const std::vector<std::string> cells = {journal::DirectionText(p.Direction), p.Nominal, p.Set, p.Measured,
                                                p.RelativeError, p.AllowedError,
                                                p.NotCheckedReason.empty() ? journal::PointVerdictText(p.Verdict)
                                                                           : p.NotCheckedReason};
        for (size_t c = 0; c < cells.size(); ++c)
            Points->setItem(static_cast<int>(i), static_cast<int>(c), Text(Qs(cells[c])));
    }
}

}  // namespace rv
