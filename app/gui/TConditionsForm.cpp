// The conditions' fields and their dialog.
#include "app/gui/TConditionsForm.h"

#include "app/gui/GuiLook.h"
#include "controls/NumberText.h"
#include "journal/DocumentText.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

#include <cmath>

namespace rv {

namespace {

struct SFigure {
    const char* Name;  // as the message names the field
    const char* Unit;
    double Min, Max;
    int Decimals;
};
// Wide enough for any room a verification is made in, narrow enough to catch a figure typed in the wrong field
// or unit (a pressure in mm Hg, a humidity as a fraction is still let through).
constexpr SFigure kTemperature{"Температура воздуха", "°C", -40, 60, 1};
constexpr SFigure kHumidity{"Относительная влажность", "%", 0, 100, 1};
constexpr SFigure kPressure{"Атмосферное давление", "кПа", 60, 120, 2};

QLineEdit* FigureEdit(QWidget* parent, const char* name, const SFigure& figure)
{
    auto* edit = Named(new QLineEdit(parent), name);
    edit->setMaxLength(16);
    edit->setPlaceholderText(QStringLiteral("не задано"));
    edit->setToolTip(QStringLiteral("%1, %2: от %3 до %4; пусто — не задано")
                         .arg(figure.Name, figure.Unit)
                         .arg(figure.Min)
                         .arg(figure.Max));
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("не задано")) + 24);
    return edit;
}

bool ReadFigure(const QLineEdit* edit, const SFigure& figure, std::optional<double>& value, std::string& error)
{
    const std::string text = Ss(edit->text().trimmed());
    if (text.empty()) {
        value.reset();
        return true;
    }
    long double v = 0;
    if (!ParseExtended(text, ',', v) || !std::isfinite(static_cast<double>(v)) || v < figure.Min || v > figure.Max) {
        error = std::string(figure.Name) + ": «" + text + "» — не число от " + journal::CommaNumber(figure.Min, 0) +
                " до " + journal::CommaNumber(figure.Max, 0) + " " + figure.Unit + ".";
        return false;
    }
    value = static_cast<double>(v);
    return true;
}

QString FigureText(const std::optional<double>& value, const SFigure& figure)
{
    return Qs(journal::CommaNumber(value, figure.Decimals));
}

// Keeps the dialog open until the figures are right.
class TConditionsDialog : public QDialog {
public:
    TConditionsDialog(QWidget* parent, const QString& note) : QDialog(parent)
    {
        setObjectName(QStringLiteral("ConditionsDialog"));
        setWindowTitle(QStringLiteral("Условия поверки"));
        if (parent) setFont(parent->font());
        form = new TConditionsForm(this);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        auto* root = new QVBoxLayout(this);
        if (!note.isEmpty()) {
            auto* text = new QLabel(note, this);
            text->setWordWrap(true);
            root->addWidget(text);
        }
        root->addWidget(form);
        root->addWidget(buttons);
    }

    void accept() override
    {
        std::string error;
        if (!form->Read(conditions, error)) {
            QMessageBox::warning(this, windowTitle(), Qs(error));
            return;
        }
        QDialog::accept();
    }

    TConditionsForm* form;
    journal::SConditions conditions;
};

}  // namespace

TConditionsForm::TConditionsForm(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ConditionsForm"));
    Temperature = FigureEdit(this, "Temperature", kTemperature);
    Humidity = FigureEdit(this, "Humidity", kHumidity);
    Pressure = FigureEdit(this, "Pressure", kPressure);
    Other = Named(new QLineEdit(this), "OtherConditions");
    Other->setMaxLength(200);
    Other->setPlaceholderText(QStringLiteral("напряжение питания, частота и т. п."));
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(QStringLiteral("Температура воздуха, °C:"), Temperature);
    form->addRow(QStringLiteral("Относительная влажность, %:"), Humidity);
    form->addRow(QStringLiteral("Атмосферное давление, кПа:"), Pressure);
    form->addRow(QStringLiteral("Прочие условия:"), Other);
}

TConditionsForm::~TConditionsForm() = default;

void TConditionsForm::SetConditions(const journal::SConditions& c)
{
    Temperature->setText(FigureText(c.AirTemperature, kTemperature));
    Humidity->setText(FigureText(c.Humidity, kHumidity));
    Pressure->setText(FigureText(c.Pressure, kPressure));
    Other->setText(Qs(c.Other));
}

bool TConditionsForm::Read(journal::SConditions& c, std::string& error) const
{
    journal::SConditions read;
    if (!ReadFigure(Temperature, kTemperature, read.AirTemperature, error) ||
        !ReadFigure(Humidity, kHumidity, read.Humidity, error) ||
        !ReadFigure(Pressure, kPressure, read.Pressure, error))
        return false;
    read.Other = Ss(Other->text().trimmed());
    c = read;
    return true;
}

QString ConditionsText(const journal::SConditions& c)
{
    QStringList parts;
    if (c.AirTemperature) parts << FigureText(c.AirTemperature, kTemperature) + QStringLiteral(" °C");
    if (c.Humidity) parts << FigureText(c.Humidity, kHumidity) + QStringLiteral(" %");
    if (c.Pressure) parts << FigureText(c.Pressure, kPressure) + QStringLiteral(" кПа");
    if (!c.Other.empty()) parts << Qs(c.Other);
    return parts.isEmpty() ? QStringLiteral("не заданы") : parts.join(QStringLiteral(", "));
}

bool EditConditions(QWidget* parent, journal::SConditions& conditions, const QString& note)
{
    TConditionsDialog dialog(parent, note);
    dialog.form->SetConditions(conditions);
    if (dialog.exec() != QDialog::Accepted) return false;
    conditions = dialog.conditions;
    return true;
}

}  // namespace rv
