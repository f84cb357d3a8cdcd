// Painted icons.
#include "app/gui/PaintedIcons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

#include <cmath>

namespace rv {

QIcon SettingsIcon()
{
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 16.0, size / 16.0);
        // Eight teeth around a ring with a hole.
        QPainterPath gear;
        constexpr int kTeeth = 8;
        constexpr double kPi = 3.14159265358979323846;
        for (int i = 0; i < kTeeth * 2; ++i) {
            const double r = i % 2 == 0 ? 7.5 : 5.6;
            for (const double half : {-0.17, 0.17}) {
                const double a = (i + 0.5 + half * 2.6) * kPi / kTeeth;
                const QPointF point(8 + r * std::cos(a), 8 + r * std::sin(a));
                if (gear.elementCount() == 0)
                    gear.moveTo(point);
                else
                    gear.lineTo(point);
            }
        }
        gear.closeSubpath();
        gear.addEllipse(QPointF(8, 8), 2.3, 2.3);
        gear.setFillRule(Qt::OddEvenFill);
        p.setPen(Qt::NoPen);
        p.setBrush(QApplication::palette().color(QPalette::WindowText));
        p.drawPath(gear);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace rv
