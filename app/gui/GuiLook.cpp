// The windows' common look.
#include "app/gui/GuiLook.h"

#include "app/gui/TPortList.h"
#include "serial/TNewDevCom.h"

#include <QComboBox>
#include <QFontMetrics>

#include <algorithm>

namespace rv {

QFont FormFont()
{
    QFont font(QStringLiteral("Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFrame* Panel(QWidget* parent, const QString& name, int height, QFrame::Shadow bevel)
{
    auto* panel = Named(new QFrame(parent), name);
    panel->setFrameStyle(QFrame::StyledPanel | bevel);
    panel->setFixedHeight(height);
    return panel;
}

std::vector<std::string> PortItems(const std::vector<std::string>& present)
{
    std::vector<std::string> items;
    const auto listed = [&](const std::string& port) {
        return std::find(items.begin(), items.end(), port) != items.end();
    };
    for (const std::string& port : present)
        if (!listed(port)) items.push_back(port);
    // The names the meter tools have always used, for the built-in ports this machine has.
    for (int n = 1; n <= 4; ++n) {
        const std::string com = "COM" + std::to_string(n);
        const std::string device = "/dev/ttyS" + std::to_string(n - 1);
        if (std::find(present.begin(), present.end(), device) != present.end() && !listed(com)) items.push_back(com);
    }
    return items;
}

std::string PortShortName(const std::string& path)
{
    const std::string byId = "/dev/serial/by-id/";
    if (path.rfind(byId, 0) != 0 || path.size() == byId.size()) return path;
    std::string name = path.substr(byId.size());
    const std::string usb = "usb-", onePort = "-if00-port0";
    if (name.rfind(usb, 0) == 0 && name.size() > usb.size()) name.erase(0, usb.size());
    if (name.size() > onePort.size() && name.compare(name.size() - onePort.size(), onePort.size(), onePort) == 0)
        name.erase(name.size() - onePort.size());
    return name;
}

QComboBox* PortBox(QWidget* parent, const QString& name, const std::vector<std::string>& items)
{
    auto* box = Named(new QComboBox(parent), name);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    TPortList::Attach(box, [] { return TNewDevCom::ListPorts(); }, items);
    // Its size hint has room for the usual names of a port on Linux (longer ones show in the list and the
    // tooltip), whatever the items; the form grows the box to it.
    const QFontMetrics metrics = box->fontMetrics();
    const int chars = metrics.horizontalAdvance(QStringLiteral("/dev/ttyUSB10"));
    box->setMinimumContentsLength((chars + metrics.horizontalAdvance(QLatin1Char('X')) - 1) /
                                  metrics.horizontalAdvance(QLatin1Char('X')));
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setGeometry(4, 6, 69, 22);
    return box;
}

}  // namespace rv
