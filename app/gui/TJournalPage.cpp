// The Журнал page.
#include "app/gui/TJournalPage.h"

#include "app/gui/GuiLook.h"
#include "app/gui/RecordDocuments.h"
#include "app/gui/TRecordDialog.h"
#include "app/window/IPrompter.h"
#include "journal/TJournal.h"
#include "journal/TJournalModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace rv {

namespace {

constexpr const char* kCaption = "Журнал поверок";

// Local midnight at the start of a day, as the journal's UTC milliseconds.
int64_t DayStartMs(const QDate& day)
{
    return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
}

QDateEdit* DateEdit(QWidget* parent, const char* name, const QDate& date)
{
    auto* edit = Named(new QDateEdit(date, parent), name);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    edit->setEnabled(false);
    return edit;
}

}  // namespace

TJournalPage::TJournalPage(journal::TJournal* journal, const std::string& unavailable,
                           const journal::SLaboratorySettings& lab, IPrompter& prompter, QWidget* parent)
    : QWidget(parent), journal_(journal), lab_(lab), prompter_(prompter), unavailable_(Qs(unavailable))
{
    setObjectName(QStringLiteral("JournalPage"));
    Build();
    if (journal_) {
        model_ = new journal::TJournalModel(*journal_, this);
        Table->setModel(model_);
        QHeaderView* header = Table->horizontalHeader();
        const QFontMetrics metrics = Table->fontMetrics();
        // Room for what the columns usually hold; the technician's name takes the rest.
        const std::pair<int, const char*> widths[] = {
            {journal::TJournalModel::colNumber, "000000"},
            {journal::TJournalModel::colDate, "00.00.0000 00:00"},
            {journal::TJournalModel::colMeter, "000000000"},
            {journal::TJournalModel::colSensor, "FS/A FS-25S №000000"},
            {journal::TJournalModel::colVerdict, "не завершена"},
        };
        for (const auto& [column, sample] : widths)
            header->resizeSection(column, metrics.horizontalAdvance(QString::fromUtf8(sample)) + 16);
        header->setSectionResizeMode(journal::TJournalModel::colTechnician, QHeaderView::Stretch);
        connect(model_, &journal::TJournalModel::LoadFailed, this,
                [this](const QString& message) { prompter_.Message(Ss(message), kCaption); });
        connect(Table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateButtons(); });
        connect(Table, &QTableView::activated, this, [this](const QModelIndex& index) { OpenRow(index.row()); });
    } else {
        setEnabled(false);
    }
    UpdateButtons();
    ShowCount();
}

TJournalPage::~TJournalPage() = default;

void TJournalPage::Build()
{
    Serial = Named(new QLineEdit(this), "FilterSerial");
    Serial->setPlaceholderText(QStringLiteral("все"));
    Serial->setMaxLength(64);
    Serial->setClearButtonEnabled(true);
    Technician = Named(new QLineEdit(this), "FilterTechnician");
    Technician->setPlaceholderText(QStringLiteral("все"));
    Technician->setMaxLength(200);
    Technician->setClearButtonEnabled(true);
    Verdict = Named(new QComboBox(this), "FilterVerdict");
    Verdict->addItems(
        {QStringLiteral("все"), QStringLiteral("годен"), QStringLiteral("не годен"), QStringLiteral("не завершена")});
    const QDate today = QDate::currentDate();
    SinceOn = Named(new QCheckBox(QStringLiteral("с"), this), "FilterSinceOn");
    Since = DateEdit(this, "FilterSince", today.addMonths(-1));
    UntilOn = Named(new QCheckBox(QStringLiteral("по"), this), "FilterUntilOn");
    Until = DateEdit(this, "FilterUntil", today);
    ResetButton = Named(new QPushButton(QStringLiteral("Сбросить"), this), "FilterReset");
    ResetButton->setToolTip(QStringLiteral("Показать все записи"));

    auto* filter1 = new QHBoxLayout;
    filter1->addWidget(new QLabel(QStringLiteral("Счётчик №"), this));
    filter1->addWidget(Serial, 1);
    filter1->addSpacing(8);
    filter1->addWidget(new QLabel(QStringLiteral("Поверитель"), this));
    filter1->addWidget(Technician, 2);
    filter1->addSpacing(8);
    filter1->addWidget(new QLabel(QStringLiteral("Результат"), this));
    filter1->addWidget(Verdict);
    auto* filter2 = new QHBoxLayout;
    filter2->addWidget(new QLabel(QStringLiteral("Дата поверки:"), this));
    filter2->addWidget(SinceOn);
    filter2->addWidget(Since);
    filter2->addSpacing(8);
    filter2->addWidget(UntilOn);
    filter2->addWidget(Until);
    filter2->addStretch(1);
    filter2->addWidget(ResetButton);

    Table = Named(new QTableView(this), "JournalTable");
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setAlternatingRowColors(true);
    Table->setWordWrap(false);
    Table->verticalHeader()->setVisible(false);
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
    Table->horizontalHeader()->setHighlightSections(false);
    Table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    Count = Named(new QLabel(this), "JournalCount");
    Count->setTextInteractionFlags(Qt::TextSelectableByMouse);
    OpenButton = Named(new QPushButton(QStringLiteral("Открыть"), this), "JournalOpen");
    OpenButton->setToolTip(QStringLiteral("Точки, протокол и результат выбранной записи"));
    PdfButton = Named(new QPushButton(QStringLiteral("PDF…"), this), "JournalPdf");
    PdfButton->setToolTip(QStringLiteral("Сохранить протоколы выбранных записей в PDF"));
    PrintButton = Named(new QPushButton(QStringLiteral("Печать…"), this), "JournalPrint");
    PrintButton->setToolTip(QStringLiteral("Напечатать протоколы выбранных записей"));
    CsvButton = Named(new QPushButton(QStringLiteral("CSV…"), this), "JournalCsv");
    CsvButton->setToolTip(QStringLiteral("Выгрузить выбранные записи в таблицу CSV"));
    XmlButton = Named(new QPushButton(QStringLiteral("XML для ФГИС…"), this), "JournalXml");
    XmlButton->setToolTip(QStringLiteral("Выгрузить выбранные записи для реестра результатов поверки (ФГИС «Аршин»)"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(OpenButton);
    buttons->addWidget(PdfButton);
    buttons->addWidget(PrintButton);
    buttons->addSpacing(12);
    buttons->addWidget(CsvButton);
    buttons->addWidget(XmlButton);
    buttons->addStretch(1);
    buttons->addWidget(Count);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(6, 6, 6, 6);
    root->setSpacing(4);
    root->addLayout(filter1);
    root->addLayout(filter2);
    root->addWidget(Table, 1);
    root->addLayout(buttons);

    connect(Serial, &QLineEdit::editingFinished, this, [this] { ApplyFilter(); });
    connect(Technician, &QLineEdit::editingFinished, this, [this] { ApplyFilter(); });
    connect(Verdict, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(SinceOn, &QCheckBox::toggled, this, [this](bool on) {
        Since->setEnabled(on);
        ApplyFilter();
    });
    connect(UntilOn, &QCheckBox::toggled, this, [this](bool on) {
        Until->setEnabled(on);
        ApplyFilter();
    });
    // A date counts only while its box is ticked.
    connect(Since, &QDateEdit::dateChanged, this, [this] {
        if (SinceOn->isChecked()) ApplyFilter();
    });
    connect(Until, &QDateEdit::dateChanged, this, [this] {
        if (UntilOn->isChecked()) ApplyFilter();
    });
    connect(ResetButton, &QPushButton::clicked, this, [this] { ResetFilter(); });
    connect(OpenButton, &QPushButton::clicked, this, [this] {
        const QModelIndex current = Table->currentIndex();
        if (current.isValid()) OpenRow(current.row());
    });
    connect(PdfButton, &QPushButton::clicked, this, [this] { SaveProtocolsPdf(prompter_, SelectedRecords(), lab_); });
    connect(PrintButton, &QPushButton::clicked, this,
            [this] { PrintProtocols(this, prompter_, SelectedRecords(), lab_); });
    connect(CsvButton, &QPushButton::clicked, this, [this] { SaveRecordsCsv(prompter_, SelectedRecords()); });
    connect(XmlButton, &QPushButton::clicked, this, [this] { SaveRegistryXml(prompter_, SelectedRecords(), lab_); });
}

journal::SJournalFilter TJournalPage::Filter() const
{
    journal::SJournalFilter f;
    f.MeterSerial = Ss(Serial->text().trimmed());
    f.Technician = Ss(Technician->text().trimmed());
    switch (Verdict->currentIndex()) {
        case 1:
            f.Verdict = journal::EVerdictFilter::Passed;
            break;
        case 2:
            f.Verdict = journal::EVerdictFilter::Failed;
            break;
        case 3:
            f.Verdict = journal::EVerdictFilter::NotCompleted;
            break;
        default:
            break;
    }
    if (SinceOn->isChecked()) f.SinceUtcMs = DayStartMs(Since->date());
    // Up to the end of the last day.
    if (UntilOn->isChecked()) f.UntilUtcMs = DayStartMs(Until->date().addDays(1));
    return f;
}

void TJournalPage::ApplyFilter()
{
    if (!model_) return;
    try {
        model_->SetFilter(Filter());
    } catch (const std::exception& e) {
        prompter_.Message(e.what(), kCaption);
    }
    ShowCount();
    UpdateButtons();
}

void TJournalPage::Reload()
{
    ApplyFilter();
}

void TJournalPage::ResetFilter()
{
    const QSignalBlocker b1(Serial), b2(Technician), b3(Verdict), b4(SinceOn), b5(UntilOn), b6(Since), b7(Until);
    Serial->clear();
    Technician->clear();
    Verdict->setCurrentIndex(0);
    SinceOn->setChecked(false);
    Since->setEnabled(false);
    UntilOn->setChecked(false);
    Until->setEnabled(false);
    ApplyFilter();
}

void TJournalPage::ShowCount()
{
    if (!journal_) {
        Count->setText(QStringLiteral("Журнал не открыт: ") + unavailable_);
        return;
    }
    try {
        const int64_t n = journal_->Count(model_->Filter());
        Count->setText(QStringLiteral("Записей: %1").arg(n));
    } catch (const std::exception& e) {
        Count->setText(Qs(e.what()));
    }
}

void TJournalPage::UpdateButtons()
{
    const bool any = model_ && Table->selectionModel() && Table->selectionModel()->hasSelection();
    for (QPushButton* b : {OpenButton, PdfButton, PrintButton, CsvButton, XmlButton}) b->setEnabled(any);
}

std::vector<journal::SVerificationRecord> TJournalPage::SelectedRecords() const
{
    std::vector<journal::SVerificationRecord> records;
    if (!model_) return records;
    QModelIndexList rows = Table->selectionModel()->selectedRows();
    // In the list's order, newest first, whatever order they were picked in.
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& index : rows) {
        const journal::SVerificationRecord* listed = model_->RecordAt(index.row());
        if (!listed) continue;
        try {
            if (std::optional<journal::SVerificationRecord> r = journal_->Get(listed->Id)) records.push_back(*r);
        } catch (const std::exception& e) {
            prompter_.Message(e.what(), kCaption);
        }
    }
    return records;
}

void TJournalPage::OpenRow(int row)
{
    const journal::SVerificationRecord* listed = model_ ? model_->RecordAt(row) : nullptr;
    if (!listed) return;
    std::optional<journal::SVerificationRecord> record;
    try {
        record = journal_->Get(listed->Id);
    } catch (const std::exception& e) {
        prompter_.Message(e.what(), kCaption);
        return;
    }
    if (!record) {
        prompter_.Message("Запись № " + std::to_string(listed->Id) + " больше не найдена в журнале.", kCaption);
        return;
    }
    TRecordDialog dialog(std::move(*record), *journal_, lab_, prompter_, this);
    dialog.exec();
}

}  // namespace rv
