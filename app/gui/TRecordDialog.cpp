// A record's dialog.
#include "app/gui/TRecordDialog.h"

#include "app/gui/GuiLook.h"
#include "app/gui/RecordDocuments.h"
#include "app/gui/TConditionsForm.h"
#include "app/gui/TPointsTable.h"
#include "app/gui/TVerdictView.h"
#include "app/window/IPrompter.h"
#include "journal/DocumentText.h"
#include "journal/TJournal.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
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
    PdfButton = Named(new QPushButton(QStringLiteral("Сохранить PDF…")), "RecordPdf");
    PrintButton = Named(new QPushButton(QStringLiteral("Печать…")), "RecordPrint");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(ConditionsButton, QDialogButtonBox::ActionRole);
    buttons->addButton(PdfButton, QDialogButtonBox::ActionRole);
    buttons->addButton(PrintButton, QDialogButtonBox::ActionRole);
    buttons->button(QDialogButtonBox::Close)->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ConditionsButton, &QPushButton::clicked, this, [this] { EditConditions(); });
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

}  // namespace rv
