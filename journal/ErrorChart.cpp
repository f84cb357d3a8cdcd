// The error chart: a logarithmic flow axis when the flows span more than a decade (the points of a run go from
// QVmax down to a hundredth of it), a symmetric error axis holding every point and the whole band.
#include "journal/ErrorChart.h"

#include "journal/Verdict.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace rv::journal {

namespace {

struct SPlotted {
    double Flow = 0;
    double Error = 0;
    double Allowed = 0;
    bool Reverse = false;
    bool Passed = false;
};

std::vector<SPlotted> Plotted(const std::vector<SVerificationPoint>& points)
{
    std::vector<SPlotted> out;
    for (const SVerificationPoint& p : points) {
        SPlotted s;
        if (!PrintedValue(p.RelativeError, s.Error) || !PrintedValue(p.AllowedError, s.Allowed)) continue;
        if (!PrintedValue(p.Set, s.Flow) && !PrintedValue(p.Nominal, s.Flow)) continue;
        if (!(s.Flow > 0) || !std::isfinite(s.Flow) || !std::isfinite(s.Error) || !std::isfinite(s.Allowed)) continue;
        s.Allowed = std::fabs(s.Allowed);
        s.Reverse = p.Direction == EDirection::Reverse;
        s.Passed = JudgePoint(p) == EPointVerdict::Pass;
        out.push_back(s);
    }
    return out;
}

// A step of 1, 2 or 5 times a power of ten giving about `count` steps over `span`.
double NiceStep(double span, int count)
{
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * power) return m * power;
    return 10 * power;
}

QString Number(double v)
{
    static const QLocale ru(QLocale::Russian, QLocale::Russia);
    QString s = ru.toString(v, 'g', 6);
    return s;
}

}  // namespace

void DrawErrorChart(QPainter& painter, const QRectF& area, const std::vector<SVerificationPoint>& points)
{
    painter.save();
    const QFontMetricsF fm(painter.font());
    const double line = fm.height();
    const double unit = line / 3;  // strokes and marks scale with the text
    const QRectF plot = area.adjusted(fm.horizontalAdvance("-00,0") + 2 * unit, line * 0.6, -unit, -4.0 * line);
    const std::vector<SPlotted> data = Plotted(points);

    painter.setPen(QPen(Qt::black, unit / 4));
    painter.drawRect(plot);
    if (data.empty()) {
        painter.drawText(plot, Qt::AlignCenter, "Нет измеренных точек");
        painter.restore();
        return;
    }

    double lo = data[0].Flow, hi = data[0].Flow, top = 0;
    for (const SPlotted& s : data) {
        lo = std::min(lo, s.Flow);
        hi = std::max(hi, s.Flow);
        top = std::max({top, std::fabs(s.Error), s.Allowed});
    }
    const bool logarithmic = hi / lo > 10;
    double xLo, xHi;
    if (logarithmic) {
        xLo = std::pow(10.0, std::floor(std::log10(lo / 1.3)));
        xHi = std::pow(10.0, std::ceil(std::log10(hi * 1.3)));
    } else {
        const double pad = std::max((hi - lo) * 0.1, hi * 0.05);
        xLo = std::max(0.0, lo - pad);
        xHi = hi + pad;
    }
    const double yStep = NiceStep(std::max(top, 0.5) * 2.4, 8);
    const double yTop = std::ceil(std::max(top, 0.5) * 1.2 / yStep) * yStep;
    auto X = [&](double flow) {
        const double f = logarithmic ? (std::log10(flow) - std::log10(xLo)) / (std::log10(xHi) - std::log10(xLo))
                                     : (flow - xLo) / (xHi - xLo);
        return plot.left() + f * plot.width();
    };
    auto Y = [&](double error) { return plot.center().y() - error / yTop * plot.height() / 2; };

    // The allowed band: each point's allowed error holds from halfway to the flow before it to halfway to the
    // one after (on the axis's own scale); forward points decide where both directions were run.
    std::vector<SPlotted> band;
    for (const SPlotted& s : data)
        if (!s.Reverse) band.push_back(s);
    if (band.empty()) band = data;
    std::sort(band.begin(), band.end(), [](const SPlotted& a, const SPlotted& b) { return a.Flow < b.Flow; });
    QPainterPath upper;
    const QColor bandColour(200, 230, 201);
    for (size_t i = 0; i < band.size(); ++i) {
        const double left = i == 0 ? plot.left() : (X(band[i - 1].Flow) + X(band[i].Flow)) / 2;
        const double right = i + 1 == band.size() ? plot.right() : (X(band[i].Flow) + X(band[i + 1].Flow)) / 2;
        const QRectF r(QPointF(left, Y(band[i].Allowed)), QPointF(right, Y(-band[i].Allowed)));
        painter.fillRect(r, bandColour);
        if (i == 0) upper.moveTo(left, Y(band[i].Allowed));
        else upper.lineTo(left, Y(band[i].Allowed));
        upper.lineTo(right, Y(band[i].Allowed));
    }
    QPen bandPen(QColor(56, 142, 60), unit / 3, Qt::DashLine);
    painter.setPen(bandPen);
    painter.drawPath(upper);
    painter.drawPath(QTransform().translate(0, 2 * plot.center().y()).scale(1, -1).map(upper));

    // Grid and axes.
    QPen grid(QColor(190, 190, 190), unit / 6, Qt::DotLine);
    painter.setPen(grid);
    for (double y = -yTop; y <= yTop + yStep / 2; y += yStep) painter.drawLine(QPointF(plot.left(), Y(y)), QPointF(plot.right(), Y(y)));
    std::vector<double> xTicks;
    if (logarithmic) {
        for (double d = xLo; d <= xHi * 1.0001; d *= 10)
            for (double m : {1.0, 2.0, 5.0})
                if (d * m <= xHi * 1.0001) xTicks.push_back(d * m);
    } else {
        const double step = NiceStep(xHi - xLo, 6);
        for (double x = std::ceil(xLo / step) * step; x <= xHi + step / 1000; x += step) xTicks.push_back(x);
    }
    for (double x : xTicks) painter.drawLine(QPointF(X(x), plot.top()), QPointF(X(x), plot.bottom()));
    painter.setPen(QPen(Qt::black, unit / 4));
    painter.drawLine(QPointF(plot.left(), Y(0)), QPointF(plot.right(), Y(0)));
    for (double y = -yTop; y <= yTop + yStep / 2; y += yStep) {
        const QRectF label(area.left(), Y(y) - line / 2, plot.left() - area.left() - unit, line);
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter, Number(std::fabs(y) < yStep / 1000 ? 0 : y));
    }
    for (double x : xTicks) {
        const QRectF label(X(x) - 3 * line, plot.bottom() + unit, 6 * line, line);
        painter.drawText(label, Qt::AlignHCenter | Qt::AlignTop, Number(x));
    }
    painter.drawText(QRectF(plot.left(), plot.bottom() + line * 1.5, plot.width(), line), Qt::AlignHCenter,
                     "Расход, м3/ч");
    painter.drawText(QRectF(area.left(), area.top() - line * 0.4, plot.left() - area.left() + 8 * line, line),
                     Qt::AlignLeft, "δ, %");

    // The points: forward a filled circle, reverse an open square; a failing point is red and crossed.
    const double r = unit * 1.4;
    for (const SPlotted& s : data) {
        const QPointF c(X(s.Flow), Y(s.Error));
        const QColor colour = s.Passed ? (s.Reverse ? QColor(230, 81, 0) : QColor(21, 101, 192)) : QColor(198, 40, 40);
        painter.setPen(QPen(colour, unit / 2.5));
        if (s.Reverse) {
            painter.setBrush(Qt::white);
            painter.drawRect(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r));
        } else {
            painter.setBrush(colour);
            painter.drawEllipse(c, r, r);
        }
        if (!s.Passed) {
            painter.drawLine(c + QPointF(-2 * r, -2 * r), c + QPointF(2 * r, 2 * r));
            painter.drawLine(c + QPointF(-2 * r, 2 * r), c + QPointF(2 * r, -2 * r));
        }
    }

    // The legend under the axis title.
    const double ly = plot.bottom() + line * 3.3;
    double lx = plot.left();
    painter.setPen(QPen(QColor(21, 101, 192), unit / 2.5));
    painter.setBrush(QColor(21, 101, 192));
    painter.drawEllipse(QPointF(lx + r, ly), r, r);
    painter.setPen(Qt::black);
    painter.drawText(QPointF(lx + 3 * r, ly + fm.ascent() / 2.5), "прямое направление");
    lx += 3 * r + fm.horizontalAdvance("прямое направление") + line;
    painter.setPen(QPen(QColor(230, 81, 0), unit / 2.5));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(lx, ly - r, 2 * r, 2 * r));
    painter.setPen(Qt::black);
    painter.drawText(QPointF(lx + 3 * r, ly + fm.ascent() / 2.5), "обратное направление");
    lx += 3 * r + fm.horizontalAdvance("обратное направление") + line;
    painter.fillRect(QRectF(lx, ly - r, 3 * r, 2 * r), bandColour);
    painter.drawText(QPointF(lx + 4 * r, ly + fm.ascent() / 2.5), "допустимая погрешность");
    lx += 4 * r + fm.horizontalAdvance("допустимая погрешность") + line;
    painter.setPen(QPen(QColor(198, 40, 40), unit / 2.5));
    painter.drawLine(QPointF(lx, ly - r), QPointF(lx + 2 * r, ly + r));
    painter.drawLine(QPointF(lx, ly + r), QPointF(lx + 2 * r, ly - r));
    painter.setPen(Qt::black);
    painter.drawText(QPointF(lx + 3 * r, ly + fm.ascent() / 2.5), "вне допуска");
    painter.restore();
}

}  // namespace rv::journal
