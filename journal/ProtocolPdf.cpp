// The protocol painted page by page: a cursor goes down the page; a block that does not fit starts a new one,
// the points table repeating its head.
#include "journal/ProtocolPdf.h"

#include "journal/DocumentText.h"
#include "journal/ErrorChart.h"
#include "journal/Verdict.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

namespace rv::journal {

namespace {

constexpr int kDpi = 300;
const char* const kFont = "DejaVu Sans";

class TProtocolPainter {
public:
    TProtocolPainter(QPagedPaintDevice& device, QPainter& painter) : device_(device), p_(painter)
    {
        // The lowest lines of each page carry its footer.
        page_ = QRectF(QPointF(0, 0), QSizeF(device.width(), device.height() - Mm(8)));
        Font(10);
    }

    void Record(const SVerificationRecord& r, const SLaboratorySettings& lab, bool first);

private:
    double Mm(double mm) const { return mm * device_.logicalDpiY() / 25.4; }
    void Font(double points, bool bold = false)
    {
        QFont f(kFont);
        f.setPointSizeF(points);
        f.setBold(bold);
        p_.setFont(f);
    }
    double LineHeight() const { return QFontMetricsF(p_.font()).lineSpacing(); }
    // Height a wrapped text takes over the full width.
    double Height(const QString& text, double width) const
    {
        return p_.boundingRect(QRectF(0, 0, width, 1e6), Qt::TextWordWrap, text).height();
    }
    void NewPage()
    {
        Footer();
        device_.newPage();
        ++sheet_;
        y_ = 0;
    }
    // "Протокол поверки № 12, лист 2" at the foot of the page.
    void Footer()
    {
        const QFont keep = p_.font();
        Font(7.5);
        const QString number = number_ > 0 ? "Протокол поверки № " + QString::number(number_) : "Образец протокола";
        p_.drawText(QRectF(0, page_.bottom() + Mm(3), page_.width(), Mm(5)), Qt::AlignRight,
                    number + ", лист " + QString::number(sheet_));
        p_.setFont(keep);
    }
    void Need(double height)
    {
        if (y_ + height > page_.height() && y_ > 0) NewPage();
    }
    void Paragraph(const QString& text, int flags = Qt::AlignLeft, double after = 0.3)
    {
        const double h = Height(text, page_.width());
        Need(h);
        p_.drawText(QRectF(0, y_, page_.width(), h), flags | Qt::TextWordWrap, text);
        y_ += h + LineHeight() * after;
    }
    // "Caption: value" with the caption bold.
    void Field(const QString& caption, const QString& value)
    {
        Font(10, true);
        const double w = QFontMetricsF(p_.font()).horizontalAdvance(caption + " ");
        Font(10);
        const double h = std::max(Height(value, page_.width() - w), LineHeight());
        Need(h);
        Font(10, true);
        p_.drawText(QRectF(0, y_, w, h), Qt::AlignLeft, caption);
        Font(10);
        p_.drawText(QRectF(w, y_, page_.width() - w, h), Qt::AlignLeft | Qt::TextWordWrap, value);
        y_ += h + LineHeight() * 0.15;
    }
    void Table(const std::vector<SVerificationPoint>& points);
    void TableRow(const QStringList& cells, bool head, const QColor& verdictColour = Qt::black);

    QPagedPaintDevice& device_;
    QPainter& p_;
    QRectF page_;
    double y_ = 0;
    int64_t number_ = 0;
    int sheet_ = 1;
};

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Column widths of the points table, in parts of the page width.
const double kColumns[] = {0.05, 0.13, 0.14, 0.14, 0.14, 0.15, 0.13, 0.12};

void TProtocolPainter::TableRow(const QStringList& cells, bool head, const QColor& verdictColour)
{
    Font(head ? 8 : 9.5, head);
    double h = 0;
    for (int i = 0; i < cells.size(); ++i)
        h = std::max(h, Height(cells[i], kColumns[i] * page_.width() - Mm(2)));
    h += Mm(1.6);
    Need(h);
    double x = 0;
    p_.setPen(QPen(Qt::black, Mm(0.2)));
    for (int i = 0; i < cells.size(); ++i) {
        const QRectF cell(x, y_, kColumns[i] * page_.width(), h);
        if (head) p_.fillRect(cell, QColor(235, 235, 235));
        p_.drawRect(cell);
        if (!head && i == cells.size() - 1) p_.setPen(verdictColour);
        p_.drawText(cell.adjusted(Mm(1), Mm(0.8), -Mm(1), -Mm(0.8)), Qt::AlignCenter | Qt::TextWordWrap, cells[i]);
        p_.setPen(QPen(Qt::black, Mm(0.2)));
        x += cell.width();
    }
    y_ += h;
}

void TProtocolPainter::Table(const std::vector<SVerificationPoint>& points)
{
    const QStringList head = {"№", "Направление", "Номинальный расход, м3/ч", "Заданный расход, м3/ч",
                              "Измеренный расход, м3/ч", "Относительная погрешность, %", "Допустимая погрешность, %",
                              "Вывод"};
    const double headHeight = Mm(12);
    Need(headHeight + Mm(8));
    TableRow(head, true);
    for (size_t i = 0; i < points.size(); ++i) {
        const SVerificationPoint& pt = points[i];
        const EPointVerdict v = JudgePoint(pt);
        // The reason a point was not checked is in the conclusion; the cell keeps to the verdict.
        const QString verdict = PointVerdictText(v);
        Font(9.5);
        if (y_ + Mm(8) > page_.height()) {
            NewPage();
            TableRow(head, true);
        }
        TableRow({QString::number(i + 1), DirectionText(pt.Direction), Q(pt.Nominal), Q(pt.Set), Q(pt.Measured),
                  Q(pt.RelativeError), Q(pt.AllowedError), verdict},
                 false, v == EPointVerdict::Pass ? QColor(27, 94, 32) : QColor(183, 28, 28));
    }
    if (points.empty()) Paragraph("Точки не записаны.");
    y_ += LineHeight() * 0.6;
}

void TProtocolPainter::Record(const SVerificationRecord& r, const SLaboratorySettings& lab, bool first)
{
    if (!first) {
        NewPage();
        sheet_ = 1;
    }
    number_ = r.Id;
    Font(11, true);
    if (!lab.Organisation.empty()) Paragraph(Q(lab.Organisation), Qt::AlignHCenter, 0.8);
    Font(15, true);
    Paragraph(r.Id > 0 ? "ПРОТОКОЛ ПОВЕРКИ № " + QString::number(r.Id) : QString("ОБРАЗЕЦ ПРОТОКОЛА ПОВЕРКИ"),
              Qt::AlignHCenter, 0.1);
    Font(10);
    QString when = "Дата поверки: " + Q(LocalDate(r.Started)) + ", начало " + Q(LocalTime(r.Started));
    if (r.Ended) when += ", окончание " + Q(LocalTime(*r.Ended));
    when += " (" + Q(OffsetText(r.Started.OffsetMinutes)) + ")";
    Paragraph(when, Qt::AlignHCenter, 1.0);

    QString meter = "счётчик";
    if (!r.Meter.Model.empty()) meter += " " + Q(r.Meter.Model);
    meter += ", заводской № " + Q(r.Meter.Serial) + ", модуль № " + QString::number(r.Meter.ModuleNumber) +
             ", исполнение " + QString("%1").arg(r.Meter.Execution, 2, 10, QChar('0'));
    if (!r.Meter.Modification.empty()) meter += ", модификация " + Q(r.Meter.Modification);
    if (r.Meter.ManufactureYear) meter += ", год выпуска " + QString::number(*r.Meter.ManufactureYear);
    if (!r.Meter.SoftwareVersion.empty()) meter += ", версия ПО " + Q(r.Meter.SoftwareVersion);
    Field("Средство измерений:", meter);
    QString sensor = Q(r.Sensor.Designation) + ", серийный № " + Q(r.Sensor.Serial) + ", позиция " +
                     QString::number(r.Sensor.Position + 1) + ", диаметр " +
                     Q(CommaNumber(r.Sensor.Diameter * 1000, 1)) + " мм, QVmax " + Q(r.Sensor.QVmax) +
                     " м3/ч, KFS " + Q(r.Sensor.Kfs);
    Field("Датчик расхода:", sensor);
    const std::string owner = r.Owner.empty() ? lab.OwnerDefault : r.Owner;
    if (!owner.empty()) Field("Владелец:", Q(owner));
    const auto kind = r.VerificationType ? r.VerificationType : lab.VerificationType;
    if (kind) Field("Вид поверки:", Q(VerificationTypeText(kind)));
    QString options = r.Reverse ? "прямое и обратное направления" : "прямое направление";
    if (r.ExtraInfo) options += ", с дополнительной информацией";
    Field("Проверено:", options);
    if (!lab.MethodTitle.empty()) Field("Методика поверки:", Q(lab.MethodTitle));
    QString means = Q(lab.MeansDescription);
    if (means.isEmpty()) {
        QStringList items;
        for (const std::string& s : lab.Standards) items << "эталон рег. № " + Q(s);
        for (const SMeansInstrument& m : lab.Instruments)
            items << "СИ тип " + Q(m.TypeNumber) + ", заводской № " + Q(m.Serial);
        means = items.join("; ");
    }
    Field("Средства поверки:", means.isEmpty() ? "не указаны" : means);
    QStringList conditions;
    const SConditions& c = r.Conditions;
    if (c.AirTemperature) conditions << "температура воздуха " + Q(CommaNumber(c.AirTemperature, 2)) + " °C";
    if (c.Humidity) conditions << "относительная влажность " + Q(CommaNumber(c.Humidity, 2)) + " %";
    if (c.Pressure) conditions << "атмосферное давление " + Q(CommaNumber(c.Pressure, 2)) + " кПа";
    if (!c.Other.empty()) conditions << Q(c.Other);
    Field("Условия поверки:", conditions.isEmpty() ? "не записаны" : conditions.join(", "));
    y_ += LineHeight() * 0.5;

    Font(11, true);
    Paragraph("Результаты поверки", Qt::AlignLeft, 0.2);
    Table(r.Points);

    const double chartHeight = Mm(74);
    Need(chartHeight + LineHeight() * 2);
    Font(11, true);
    Paragraph("Относительная погрешность в зависимости от расхода", Qt::AlignLeft, 0.5);
    Font(8.5);
    DrawErrorChart(p_, QRectF(0, y_, page_.width(), chartHeight), r.Points);
    y_ += chartHeight + LineHeight();

    // The verdict is not parted from the signature lines: the whole block goes where it fits.
    const QString verdict = "Заключение: " + QString(StateText(r.State));
    const QString line = "Линия связи: повторов " + QString::number(r.Line.Repetitions) + ", тайм-аутов " +
                         QString::number(r.Line.Timeouts) + ", ошибок контрольной суммы " +
                         QString::number(r.Line.ChecksumFailures) + ". Рабочее место: " + Q(r.Workstation) +
                         ", порт " + Q(r.Port) + ", программа версии " + Q(r.ProgramVersion) + ".";
    double block = 0;
    Font(13, true);
    block += Height(verdict, page_.width()) + LineHeight() * 0.2;
    Font(10);
    if (!r.Outcome.empty()) block += Height(Q(r.Outcome), page_.width()) + LineHeight() * 0.3;
    block += LineHeight() * 4;
    Font(8.5);
    block += Height(line, page_.width()) + LineHeight() * 1.5;
    Need(block);
    Font(13, true);
    Paragraph(verdict, Qt::AlignLeft, 0.2);
    Font(10);
    if (!r.Outcome.empty()) Paragraph(Q(r.Outcome));
    Font(8.5);
    Paragraph(line, Qt::AlignLeft, 1.5);

    // Signature lines: the technician signs above the line, the name beside it, the date after.
    Font(10);
    Need(LineHeight() * 4);
    const QString name = Q(r.Technician.empty() ? lab.Technician : r.Technician);
    const QFontMetricsF fm(p_.font());
    const double base = y_ + fm.ascent();
    double x = 0;
    p_.drawText(QPointF(x, base), "Поверитель");
    x += fm.horizontalAdvance("Поверитель") + Mm(3);
    p_.drawLine(QPointF(x, base + Mm(1)), QPointF(x + Mm(45), base + Mm(1)));
    Font(7);
    p_.drawText(QRectF(x, base + Mm(1.5), Mm(45), LineHeight()), Qt::AlignHCenter, "подпись");
    Font(10);
    x += Mm(48);
    const QString named = "/ " + (name.isEmpty() ? QString(24, ' ') : name) + " /";
    p_.drawText(QPointF(x, base), named);
    x += fm.horizontalAdvance(named) + Mm(10);
    p_.drawText(QPointF(x, base), "Дата");
    x += fm.horizontalAdvance("Дата") + Mm(3);
    p_.drawLine(QPointF(x, base + Mm(1)), QPointF(std::min(x + Mm(35), page_.width()), base + Mm(1)));
    y_ += LineHeight() * 3;
    Footer();
}

}  // namespace

void PaintProtocols(QPagedPaintDevice& device, const std::vector<SVerificationRecord>& records,
                    const SLaboratorySettings& lab)
{
    if (records.empty()) throw EJournalError("Протокол не составлен: не выбрано ни одной записи.");
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw EJournalError("Протокол не составлен: для печати нужен графический модуль программы.");
    QPainter painter(&device);
    if (!painter.isActive()) throw EJournalError("Протокол не составлен: устройство печати не готово.");
    TProtocolPainter page(device, painter);
    for (size_t i = 0; i < records.size(); ++i) page.Record(records[i], lab, i == 0);
}

std::string ProtocolPdf(const std::vector<SVerificationRecord>& records, const SLaboratorySettings& lab)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(kDpi);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(20, 15, 12, 15), QPageLayout::Millimeter));
        writer.setTitle(records.empty() ? QString() : "Протокол поверки № " + QString::number(records.front().Id));
        writer.setCreator("Rivanta");
        PaintProtocols(writer, records, lab);
    }
    return bytes.toStdString();
}

}  // namespace rv::journal
