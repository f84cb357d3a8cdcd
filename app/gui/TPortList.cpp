// The list behind a port box.
#include "app/gui/TPortList.h"

#include "app/gui/GuiLook.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>

#include <map>

namespace rv {

TPortList::TPortList(QComboBox* box, TLister lister) : QObject(box), box_(box), lister_(std::move(lister))
{
    setObjectName(QStringLiteral("PortList"));
}

TPortList* TPortList::Attach(QComboBox* box, TLister lister, const std::vector<std::string>& present)
{
    auto* list = new TPortList(box, std::move(lister));
    list->Fill(present);
    // The box opens its list on a click of its arrow or on F4 / Alt+Down, typed in its edit or on itself.
    box->installEventFilter(list);
    if (box->lineEdit()) box->lineEdit()->installEventFilter(list);
    return list;
}

TPortList* TPortList::Of(const QComboBox* box)
{
    return box ? box->findChild<TPortList*>(QStringLiteral("PortList"), Qt::FindDirectChildrenOnly) : nullptr;
}

void TPortList::Fill(const std::vector<std::string>& items)
{
    box_->clear();
    std::map<std::string, int> shown;
    for (const std::string& item : items) ++shown[PortShortName(item)];
    for (const std::string& item : items) {
        // Two adapters of one name would be told apart by their paths only.
        const std::string name = PortShortName(item);
        box_->addItem(Qs(shown[name] > 1 ? item : name), Qs(item));
        box_->setItemData(box_->count() - 1, Qs(item), Qt::ToolTipRole);
    }
    box_->view()->setMinimumWidth(box_->view()->sizeHintForColumn(0) + 24);
}

std::vector<std::string> TPortList::Paths() const
{
    std::vector<std::string> out;
    for (int i = 0; i < box_->count(); ++i) out.push_back(Ss(box_->itemData(i).toString()));
    return out;
}

std::string TPortList::Path() const
{
    const int i = box_->findText(box_->currentText(), Qt::MatchExactly);
    return i >= 0 ? Ss(box_->itemData(i).toString()) : Ss(box_->currentText());
}

QString TPortList::TextFor(const std::string& path) const
{
    const int i = box_->findData(Qs(path));
    return i >= 0 ? box_->itemText(i) : Qs(path);
}

void TPortList::SetPath(const std::string& path)
{
    const QString text = TextFor(path);
    const QSignalBlocker block(box_);
    if (box_->currentText() != text) box_->setEditText(text);
    box_->setToolTip(Qs(path));
}

void TPortList::Refresh()
{
    if (!lister_) return;
    const std::vector<std::string> items = PortItems(lister_());
    if (items == Paths()) return;
    const std::string path = Path();
    {
        const QSignalBlocker block(box_);
        Fill(items);
        box_->setCurrentIndex(box_->findData(Qs(path)));
    }
    SetPath(path);
    emit ItemsChanged();
}

bool TPortList::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && watched == box_) {
        Refresh();
    } else if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const bool alt = key->modifiers() & Qt::AltModifier;
        if (key->key() == Qt::Key_F4 || (alt && (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up))) Refresh();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace rv
