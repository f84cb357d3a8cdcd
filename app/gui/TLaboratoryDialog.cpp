// The laboratory settings dialog.
#include "app/gui/TLaboratoryDialog.h"

#include "app/gui/GuiLook.h"
#include "app/gui/TConditionsForm.h"
#include "journal/JournalLocation.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>
#include <vector>

namespace rv {

namespace {

constexpr int kLineLength = 500;

QLineEdit* Line(QWidget* parent, const char* name, const QString& placeholder = {})
{
    auto* edit = Named(new QLineEdit(parent), name);
    edit->setMaxLength(kLineLength);
    edit->setPlaceholderText(placeholder);
    return edit;
}

// A table of pairs with buttons to add and remove rows, inside its own widget.
QWidget* PairTable(QWidget* parent, const char* name, const QString& first, const QString& second, QTableWidget*& table)
{
    auto* box = new QWidget(parent);
    table = Named(new QTableWidget(0, 2, box), name);
    table->setHorizontalHeaderLabels({first, second});
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setMinimumHeight(table->horizontalHeader()->sizeHint().height() + 4 * table->fontMetrics().height() * 2);
    auto* add = Named(new QPushButton(QStringLiteral("Добавить"), box), QString::fromLatin1(name) + "Add");
    auto* remove = Named(new QPushButton(QStringLiteral("Удалить"), box), QString::fromLatin1(name) + "Remove");
    QObject::connect(add, &QPushButton::clicked, table, [table] {
        if (table->rowCount() >= static_cast<int>(journal::kMaxSettingsListItems)) return;
        table->insertRow(table->rowCount());
        table->setCurrentCell(table->rowCount() - 1, 0);
        table->editItem(table->currentItem());
    });
    QObject::connect(remove, &QPushButton::clicked, table, [table] {
        if (table->currentRow() >= 0) table->removeRow(table->currentRow());
    });
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table, 1);
    layout->addLayout(buttons);
    return box;
}

void AddPair(QTableWidget* table, const std::string& first, const std::string& second)
{
    const int row = table->rowCount();
    table->insertRow(row);
    table->setItem(row, 0, new QTableWidgetItem(Qs(first)));
    table->setItem(row, 1, new QTableWidgetItem(Qs(second)));
}

std::string CellText(const QTableWidget* table, int row, int column)
{
    const QTableWidgetItem* item = table->item(row, column);
    return item ? Ss(item->text().trimmed().left(kLineLength)) : std::string();
}

std::vector<std::pair<std::string, std::string>> Pairs(const QTableWidget* table)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int row = 0; row < table->rowCount(); ++row) {
        std::pair<std::string, std::string> p{CellText(table, row, 0), CellText(table, row, 1)};
        if (!p.first.empty() || !p.second.empty()) pairs.push_back(std::move(p));
    }
    return pairs;
}

std::string Trimmed(const QLineEdit* edit)
{
    return Ss(edit->text().trimmed());
}

QLabel* Note(QWidget* parent, const QString& text)
{
    auto* note = new QLabel(text, parent);
    note->setWordWrap(true);
    QPalette p = note->palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::PlaceholderText));
    note->setPalette(p);
    return note;
}

}  // namespace

TLaboratoryDialog::TLaboratoryDialog(const journal::SLaboratorySettings& settings, const std::string& path,
                                     QWidget* parent)
    : QDialog(parent), path_(path), settings_(settings)
{
    setObjectName(QStringLiteral("LaboratoryDialog"));
    setWindowTitle(QStringLiteral("Настройки лаборатории"));
    if (parent) setFont(parent->font());
    Pages = Named(new QTabWidget(this), "LaboratoryPages");

    // The laboratory
    auto* lab = new QWidget;
    Organisation = Line(lab, "Organisation", QStringLiteral("наименование, аттестат аккредитации"));
    Technician = Line(lab, "Technician", QStringLiteral("фамилия и инициалы"));
    JournalLocation = Line(lab, "JournalLocation", Qs(journal::DefaultJournalPath()));
    JournalLocation->setToolTip(
        QStringLiteral("Файл журнала (SQLite) или общий журнал лаборатории: "
                       "postgresql://пользователь@сервер/база. Пусто — файл по умолчанию."));
    auto* browse = Named(new QToolButton(lab), "JournalBrowse");
    browse->setText(QStringLiteral("…"));
    browse->setToolTip(QStringLiteral("Выбрать файл журнала"));
    connect(browse, &QToolButton::clicked, this, [this] {
        const QString file = QFileDialog::getSaveFileName(
            this, QStringLiteral("Файл журнала поверок"), JournalLocation->text(),
            QStringLiteral("Журнал SQLite (*.sqlite)"), nullptr, QFileDialog::DontConfirmOverwrite);
        if (!file.isEmpty()) JournalLocation->setText(file);
    });
    auto* journalRow = new QHBoxLayout;
    journalRow->addWidget(JournalLocation, 1);
    journalRow->addWidget(browse);
    auto* labForm = new QFormLayout(lab);
    labForm->addRow(QStringLiteral("Организация:"), Organisation);
    labForm->addRow(QStringLiteral("Поверитель:"), Technician);
    labForm->addRow(QStringLiteral("Журнал поверок:"), journalRow);
    labForm->addRow(Note(lab, QStringLiteral("Новое место журнала действует со следующего запуска программы.")));
    Pages->addTab(lab, QStringLiteral("Лаборатория"));

    // The registry
    auto* registry = new QWidget;
    QWidget* types = PairTable(registry, "TypeNumbers", QStringLiteral("Модель счётчика"),
                               QStringLiteral("Рег. номер типа"), TypeNumbers);
    SignCipher = Line(registry, "SignCipher");
    Owner = Line(registry, "Owner", QStringLiteral("владелец счётчиков, если запись не называет другого"));
    MethodTitle = Line(registry, "MethodTitle", QStringLiteral("обозначение и наименование методики поверки"));
    IntervalMonths = Named(new QSpinBox(registry), "IntervalMonths");
    IntervalMonths->setRange(0, 1200);
    IntervalMonths->setSpecialValueText(QStringLiteral("не задан"));
    IntervalMonths->setSuffix(QStringLiteral(" мес."));
    VerificationType = Named(new QComboBox(registry), "VerificationType");
    VerificationType->addItems(
        {QStringLiteral("не задан"), QStringLiteral("первичная"), QStringLiteral("периодическая")});
    SignPass = Named(new QCheckBox(QStringLiteral("знак поверки в паспорте (signPass)"), registry), "SignPass");
    SignMi = Named(new QCheckBox(QStringLiteral("знак поверки на средстве измерений (signMi)"), registry), "SignMi");
    auto* registryForm = new QFormLayout(registry);
    registryForm->addRow(Note(registry, QStringLiteral("Номер типа с пустой моделью служит всем моделям, "
                                                       "у которых нет своего.")));
    registryForm->addRow(types);
    registryForm->addRow(QStringLiteral("Шифр знака поверки:"), SignCipher);
    registryForm->addRow(QStringLiteral("Владелец по умолчанию:"), Owner);
    registryForm->addRow(QStringLiteral("Методика поверки:"), MethodTitle);
    registryForm->addRow(QStringLiteral("Межповерочный интервал:"), IntervalMonths);
    registryForm->addRow(QStringLiteral("Вид поверки по умолчанию:"), VerificationType);
    registryForm->addRow(SignPass);
    registryForm->addRow(SignMi);
    Pages->addTab(registry, QStringLiteral("Реестр (ФГИС)"));

    // The means of verification
    auto* means = new QWidget;
    MeansDescription = Named(new QPlainTextEdit(means), "MeansDescription");
    MeansDescription->setPlaceholderText(QStringLiteral("как их называет протокол"));
    MeansDescription->setTabChangesFocus(true);
    MeansDescription->setMaximumHeight(MeansDescription->fontMetrics().height() * 4 + 12);
    Standards = Named(new QPlainTextEdit(means), "Standards");
    Standards->setPlaceholderText(QStringLiteral("регистрационный номер эталона, по одному в строке"));
    Standards->setTabChangesFocus(true);
    Standards->setMaximumHeight(Standards->fontMetrics().height() * 4 + 12);
    QWidget* instruments = PairTable(means, "Instruments", QStringLiteral("Рег. номер типа СИ"),
                                     QStringLiteral("Заводской номер"), Instruments);
    auto* meansForm = new QFormLayout(means);
    meansForm->addRow(QStringLiteral("Для протокола:"), MeansDescription);
    meansForm->addRow(QStringLiteral("Эталоны:"), Standards);
    meansForm->addRow(QStringLiteral("Средства измерений:"), instruments);
    Pages->addTab(means, QStringLiteral("Средства поверки"));

    // The default conditions
    auto* conditionsPage = new QWidget;
    Conditions = new TConditionsForm(conditionsPage);
    auto* conditionsLayout = new QVBoxLayout(conditionsPage);
    conditionsLayout->addWidget(Note(conditionsPage, QStringLiteral("Условия, с которыми записываются поверки, "
                                                                    "пока поверитель не введёт другие.")));
    conditionsLayout->addWidget(Conditions);
    conditionsLayout->addStretch(1);
    Pages->addTab(conditionsPage, QStringLiteral("Условия"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* root = new QVBoxLayout(this);
    root->addWidget(Pages, 1);
    root->addWidget(buttons);
    resize(560, 480);
    Fill(settings);
}

TLaboratoryDialog::~TLaboratoryDialog() = default;

void TLaboratoryDialog::Fill(const journal::SLaboratorySettings& s)
{
    Organisation->setText(Qs(s.Organisation));
    Technician->setText(Qs(s.Technician));
    JournalLocation->setText(Qs(s.JournalLocation));
    for (const journal::STypeNumber& t : s.TypeNumbers) AddPair(TypeNumbers, t.Model, t.Number);
    SignCipher->setText(Qs(s.SignCipher));
    Owner->setText(Qs(s.OwnerDefault));
    MethodTitle->setText(Qs(s.MethodTitle));
    IntervalMonths->setValue(s.IntervalMonths);
    VerificationType->setCurrentIndex(s.VerificationType ? static_cast<int>(*s.VerificationType) : 0);
    SignPass->setChecked(s.SignPass);
    SignMi->setChecked(s.SignMi);
    MeansDescription->setPlainText(Qs(s.MeansDescription));
    QStringList standards;
    for (const std::string& n : s.Standards) standards << Qs(n);
    Standards->setPlainText(standards.join('\n'));
    for (const journal::SMeansInstrument& m : s.Instruments) AddPair(Instruments, m.TypeNumber, m.Serial);
    Conditions->SetConditions(s.DefaultConditions);
}

bool TLaboratoryDialog::Read(journal::SLaboratorySettings& out, std::string& error) const
{
    journal::SLaboratorySettings s;
    s.Organisation = Trimmed(Organisation);
    s.Technician = Trimmed(Technician);
    s.JournalLocation = Trimmed(JournalLocation);
    if (!s.JournalLocation.empty()) {
        try {
            journal::ParseJournalLocation(s.JournalLocation);
        } catch (const std::exception& e) {
            error = std::string("Журнал поверок: ") + e.what();
            return false;
        }
    }
    for (auto& [model, number] : Pairs(TypeNumbers)) {
        if (number.empty()) {
            error = "Регистрационные номера типа: для модели «" + model + "» не задан номер.";
            return false;
        }
        s.TypeNumbers.push_back({model, number});
    }
    s.SignCipher = Trimmed(SignCipher);
    s.OwnerDefault = Trimmed(Owner);
    s.MethodTitle = Trimmed(MethodTitle);
    s.IntervalMonths = IntervalMonths->value();
    if (const int type = VerificationType->currentIndex(); type == 1 || type == 2)
        s.VerificationType = static_cast<journal::EVerificationType>(type);
    s.SignPass = SignPass->isChecked();
    s.SignMi = SignMi->isChecked();
    s.MeansDescription = Ss(MeansDescription->toPlainText().trimmed().left(kLineLength * 4));
    for (const QString& line : Standards->toPlainText().split('\n', Qt::SkipEmptyParts))
        if (const QString n = line.trimmed().left(kLineLength);
            !n.isEmpty() && s.Standards.size() < journal::kMaxSettingsListItems)
            s.Standards.push_back(Ss(n));
    for (auto& [type, serial] : Pairs(Instruments)) s.Instruments.push_back({type, serial});
    if (!Conditions->Read(s.DefaultConditions, error)) {
        error = "Условия по умолчанию: " + error;
        return false;
    }
    out = std::move(s);
    return true;
}

void TLaboratoryDialog::accept()
{
    journal::SLaboratorySettings s;
    std::string error;
    if (Read(s, error)) {
        try {
            journal::SaveLaboratorySettings(s, path_);
            settings_ = std::move(s);
            QDialog::accept();
            return;
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
    QMessageBox::warning(this, windowTitle(), Qs(error));
}

}  // namespace rv
