// What the windows share in their look: the form font, the text conversions between the controllers' UTF-8
// strings and Qt's, named widgets, the forms' panels and the port box of a connection panel.
#pragma once

#include <QFont>
#include <QFrame>
#include <QString>

#include <string>
#include <vector>

class QComboBox;

namespace rv {

// The forms' font: the platform's sans-serif at 8 points.
QFont FormFont();

template <class W>
W* Named(W* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

// A panel of a form: a bevelled frame of a fixed height.
QFrame* Panel(QWidget* parent, const QString& name, int height, QFrame::Shadow bevel);

// What a port box offers: COM1..COM4, then the ports present that are not among them.
std::vector<std::string> PortItems(const std::vector<std::string>& present);
// An editable port box with these items at the place the forms draw it; its list is wide enough for the paths of
// the ports present, which are longer than the box.
QComboBox* PortBox(QWidget* parent, const QString& name, const std::vector<std::string>& items);

inline QString Qs(const std::string& s)
{
    return QString::fromStdString(s);
}
inline std::string Ss(const QString& s)
{
    return s.toStdString();
}

}  // namespace rv
