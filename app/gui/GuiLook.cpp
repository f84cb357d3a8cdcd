// The windows' common look.
#include "app/gui/GuiLook.h"

#include <QAbstractItemView>
#include <QComboBox>

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
    std::vector<std::string> items = {"COM1", "COM2", "COM3", "COM4"};
    for (const std::string& port : present)
        if (std::find(items.begin(), items.end(), port) == items.end()) items.push_back(port);
    return items;
}

QComboBox* PortBox(QWidget* parent, const QString& name, const std::vector<std::string>& items)
{
    auto* box = Named(new QComboBox(parent), name);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    for (const std::string& item : items) box->addItem(Qs(item));
    box->setGeometry(4, 6, 69, 22);
    box->view()->setMinimumWidth(box->view()->sizeHintForColumn(0) + 24);
    return box;
}

}  // namespace rv
