// What the windows share in their look: the form font and the text conversions between the controllers'
// UTF-8 strings and Qt's.
#pragma once

#include <QFont>
#include <QString>

#include <string>

namespace rv {

// The forms' font: the platform's sans-serif at 8 points.
QFont FormFont();

inline QString Qs(const std::string& s)
{
    return QString::fromStdString(s);
}
inline std::string Ss(const QString& s)
{
    return s.toStdString();
}

}  // namespace rv
