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

// What a port box offers: the ports present, then those of COM1..COM4 that are present too (COMn is the device
// /dev/ttyS(n-1)).
std::vector<std::string> PortItems(const std::vector<std::string>& present);
// What a port box shows for a port: a link under /dev/serial/by-id/ by its adapter's name (without "usb-" and
// the "-if00-port0" of a one-port adapter), anything else as it is.
std::string PortShortName(const std::string& path);
// An editable port box with these items (see TPortList: it lists the ports present again when it is opened) at
// the place the forms draw it; its size hint is wide enough for a name like /dev/ttyUSB0, and the forms grow it to
// that. Its list is wide enough for every item.
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
