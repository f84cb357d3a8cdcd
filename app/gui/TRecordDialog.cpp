// A record's dialog.
#include "app/gui/TRecordDialog.h"

#include "app/gui/GuiLook.h"
#include "app/gui/RecordDocuments.h"
#include "app/gui/TConditionsForm.h"
#include "app/gui/TPointsTable.h"
#include "app/gui/TVerdictView.h"
#include "app/window/IPrompter.h"
#include "journal/DocumentText.h"
#include "journal/RegistryXml.h"
#include "journal/TJournal.h"

#include <QComboBox>
#include <QDate>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace rv {

namespace {

QString Row(const QString& name, const std::string& value)
{
    return QStringLiteral("<tr><td style='padding-right:12px'><b>%1</b></td><td>%2</td></tr>")
        .arg(name, Qs(value).toHtmlEscaped());
}

std::string When(const journal::STimestamp& t)
{
    return journal::LocalDate(t) + " " + journal::LocalTime(t) + " (" + journal::OffsetText(t.OffsetMinutes) + ")";
}

QLineEdit* DetailLine(QWidget* parent, const char* name, const std::string& text, const QString& placeholder)
{
    auto* edit = Named(new QLineEdit(Qs(text), parent), name);
    edit->setMaxLength(200);
    edit->setPlaceholderText(placeholder);
    return edit;
}

// The meter's details for the registry, as the technician reads them from its passport.
class TDetailsDialog : public QDialog {
public:
    TDetailsDialog(const journal::SVerificationRecord& r, const journal::SLaboratorySettings& lab, QWidget* parent)
        : QDialog(parent)
    {
        setObjectName(QStringLiteral("DetailsDialog"));
        setWindowTitle(QStringLiteral("Сведения о счётчике № %1").arg(Qs(r.Meter.Serial)));
        if (parent) setFont(parent->font());
        model = DetailLine(this, "DetailsModel", r.Meter.Model, QStringLiteral("по ней выбирается номер типа"));
        modification = DetailLine(this, "DetailsModification", r.Meter.Modification, QStringLiteral("как в реестре"));
        year = Named(new QSpinBox(this), "DetailsYear");
        year->setRange(1949, QDate::currentDate().year() + 1);
        year->setSpecialValueText(QStringLiteral("не задан"));
        year->setValue(r.Meter.ManufactureYear.value_or(year->minimum()));
        kind = Named(new QComboBox(this), "DetailsKind");
        const std::string byLab = journal::VerificationTypeText(lab.VerificationType);
        kind->addItems({Qs("по настройкам лаборатории" + (byLab.empty() ? std::string() : " (" + byLab + ")")),
                        QStringLiteral("первичная"), QStringLiteral("периодическая")});
        kind->setCurrentIndex(r.VerificationType ? static_cast<int>(*r.VerificationType) : 0);
        owner = DetailLine(this, "DetailsOwner", r.Owner,
                           lab.OwnerDefault.empty() ? QStringLiteral("не задан") : Qs(lab.OwnerDefault));
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        auto* form = new QFormLayout(this);
        form->addRow(QStringLiteral("Модель счётчика:"), model);
        form->addRow(QStringLiteral("Модификация:"), modification);
        form->addRow(QStringLiteral("Год выпуска:"), year);
        form->addRow(QStringLiteral("Вид поверки:"), kind);
        form->addRow(QStringLiteral("Владелец:"), owner);
        form->addRow(buttons);
        setMinimumWidth(420);
    }

    journal::SRecordDetails Details() const
    {
        journal::SRecordDetails d;
        d.Model = Ss(model->text().trimmed());
        d.Modification = Ss(modification->text().trimmed());
        if (year->value() != year->minimum()) d.ManufactureYear = year->value();
        if (kind->currentIndex() > 0)
            d.VerificationType = static_cast<journal::EVerificationType>(kind->currentIndex());
        d.Owner = Ss(owner->text().trimmed());
        return d;
    }

    QLineEdit* model;
    QLineEdit* modification;
    QSpinBox* year;
    QComboBox* kind;
    QLineEdit* owner;
};

}  // namespace

TRecordDialog::TRecordDialog(journal::SVerificationRecord record, journal::TJournal& journal,
                             const journal::SLaboratorySettings& lab, IPrompter& prompter, QWidget* parent)
    : QDialog(parent), record_(std::move(record)), journal_(journal), lab_(lab), prompter_(prompter)
{
    setObjectName(QStringLiteral("RecordDialog"));
    setWindowTitle(QStringLiteral("Протокол поверки № %1").arg(record_.Id));
    if (parent) setFont(parent->font());

    Verdict = new TVerdictView(this);
    Verdict->Show(record_.State, record_.Outcome);
    Details = Named(new QLabel(this), "RecordDetails");
    Details->setTextFormat(Qt::RichText);
    Details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Details->setWordWrap(true);

    Pages = Named(new QTabWidget(this), "RecordPages");
    Points = new TPointsTable;
    Points->SetPoints(record_.Points);
    Pages->addTab(Points, QStringLiteral("Точки (%1)").arg(record_.Points.size()));
    Protocol = Named(new QPlainTextEdit, "RecordProtocol");
    Protocol->setReadOnly(true);
    Protocol->setLineWrapMode(QPlainTextEdit::NoWrap);
    Protocol->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Protocol->setPlainText(Qs(record_.Protocol));
    Pages->addTab(Protocol, QStringLiteral("Протокол"));

    ConditionsButton = Named(new QPushButton(QStringLiteral("Условия…")), "RecordConditions");
    ConditionsButton->setToolTip(QStringLiteral("Исправить условия поверки в записи"));
    DetailsButton = Named(new QPushButton(QStringLiteral("Сведения…")), "RecordDetailsButton");
    DetailsButton->setToolTip(QStringLiteral("Модель, модификация и год выпуска счётчика, вид поверки, владелец"));
    PdfButton = Named(new QPushButton(QStringLiteral("Сохранить PDF…")), "RecordPdf");
    PrintButton = Named(new QPushButton(QStringLiteral("Печать…")), "RecordPrint");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(ConditionsButton, QDialogButtonBox::ActionRole);
    buttons->addButton(DetailsButton, QDialogButtonBox::ActionRole);
    buttons->addButton(PdfButton, QDialogButtonBox::ActionRole);
    buttons->addButton(PrintButton, QDialogButtonBox::ActionRole);
    buttons->button(QDialogButtonBox::Close)->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ConditionsButton, &QPushButton::clicked, this, [this] { EditConditions(); });
    connect(DetailsButton, &QPushButton::clicked, this, [this] { EditDetails(); });
    connect(PdfButton, &QPushButton::clicked, this, [this] { SaveProtocolsPdf(prompter_, {record_}, lab_); });
    connect(PrintButton, &QPushButton::clicked, this, [this] { PrintProtocols(this, prompter_, {record_}, lab_); });

    auto* root = new QVBoxLayout(this);
    root->addWidget(Verdict);
    root->addWidget(Details);
    root->addWidget(Pages, 1);
    root->addWidget(buttons);
    ShowDetails();
    resize(720, 560);
}

TRecordDialog::~TRecordDialog() = default;

void TRecordDialog::ShowDetails()
{
    const journal::SVerificationRecord& r = record_;
    QString rows;
    std::string when = When(r.Started);
    if (r.Ended) when += " — " + journal::LocalTime(*r.Ended);
    rows += Row(QStringLiteral("Протокол"), "№ " + std::to_string(r.Id));
    rows += Row(QStringLiteral("Дата"), when);
    rows += Row(QStringLiteral("Поверитель"), r.Technician.empty() ? "не указан" : r.Technician);
    std::string meter = "№ " + r.Meter.Serial + ", модуль " + std::to_string(r.Meter.ModuleNumber) + ", исполнение " +
                        std::to_string(r.Meter.Execution) + ", ПО " + r.Meter.SoftwareVersion;
    if (!r.Meter.Model.empty()) meter += ", модель " + r.Meter.Model;
    if (!r.Meter.Modification.empty()) meter += ", модификация " + r.Meter.Modification;
    if (r.Meter.ManufactureYear) meter += ", " + std::to_string(*r.Meter.ManufactureYear) + " г. выпуска";
    rows += Row(QStringLiteral("Счётчик"), meter);
    std::string sensor = r.Sensor.Designation + " № " + r.Sensor.Serial;
    if (!r.Sensor.QVmax.empty()) sensor += ", QVmax " + r.Sensor.QVmax + " м3/ч";
    if (!r.Sensor.Kfs.empty()) sensor += ", KFS " + r.Sensor.Kfs;
    rows += Row(QStringLiteral("Датчик"), sensor + ", позиция " + std::to_string(r.Sensor.Position + 1));
    rows += Row(QStringLiteral("Условия"), Ss(ConditionsText(r.Conditions)));
    std::string line = "повторов " + std::to_string(r.Line.Repetitions) + ", тайм-аутов " +
                       std::to_string(r.Line.Timeouts) + ", ошибок контрольной суммы " +
                       std::to_string(r.Line.ChecksumFailures);
    rows += Row(QStringLiteral("Связь"), r.Port + (r.Port.empty() ? "" : ": ") + line);
    rows += Row(QStringLiteral("Рабочее место"), r.Workstation + ", Rivanta " + r.ProgramVersion);
    // What the registry's document of this record still lacks, so that it can be entered before the export.
    const std::vector<std::string> missing = journal::MissingRegistryFields(r, lab_);
    std::string registry = missing.empty() ? "всё задано" : "не заданы ";
    for (size_t i = 0; i < missing.size(); ++i) registry += (i ? ", " : "") + missing[i];
    rows += Row(QStringLiteral("Для реестра"), registry);
    Details->setText(QStringLiteral("<table>%1</table>").arg(rows));
}

void TRecordDialog::EditConditions()
{
    journal::SConditions conditions = record_.Conditions;
    if (!rv::EditConditions(this, conditions, QStringLiteral("Условия поверки по протоколу № %1.").arg(record_.Id)))
        return;
    try {
        journal_.SetConditions(record_.Id, conditions);
    } catch (const std::exception& e) {
        prompter_.Message(e.what(), "Ошибка");
        return;
    }
    record_.Conditions = conditions;
    ShowDetails();
}

void TRecordDialog::EditDetails()
{
    TDetailsDialog dialog(record_, lab_, this);
    if (dialog.exec() != QDialog::Accepted) return;
    const journal::SRecordDetails details = dialog.Details();
    try {
        journal_.SetDetails(record_.Id, details);
    } catch (const std::exception& e) {
        prompter_.Message(e.what(), "Ошибка");
        return;
    }
    record_.Meter.Model = details.Model;
    record_.Meter.Modification = details.Modification;
    record_.Meter.ManufactureYear = details.ManufactureYear;
    record_.VerificationType = details.VerificationType;
    record_.Owner = details.Owner;
    ShowDetails();
}

}  // namespace rv
