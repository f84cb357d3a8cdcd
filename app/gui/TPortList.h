// The list behind a port box: the ports present on this machine, each shown by a short name with its full path
// kept beside it, listed afresh whenever the technician opens the box. The box itself stays a plain combo box, so
// the form state keeps its text as it keeps every combo box's.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QComboBox;

namespace rv {

class TPortList : public QObject {
    Q_OBJECT
public:
    using TLister = std::function<std::vector<std::string>()>;

    // Fills box with the ports present (listed by lister) and follows it from then on; the box owns the list.
    static TPortList* Attach(QComboBox* box, TLister lister, const std::vector<std::string>& present);
    // The list that follows box; null for a box without one.
    static TPortList* Of(const QComboBox* box);

    // The full path of the port the box's text names: the path of the item shown by that text, or the text as
    // typed.
    std::string Path() const;
    // What the box shows for path: its item's short name where it is one of the ports listed, path otherwise.
    QString TextFor(const std::string& path) const;
    // Shows path in the box (TextFor), with the path as its tooltip. No signal of the box follows.
    void SetPath(const std::string& path);
    // The full paths of the items, in their order.
    std::vector<std::string> Paths() const;
    // Lists the ports again; the box keeps its text. ItemsChanged follows when the list differs.
    void Refresh();
    void SetLister(TLister lister) { lister_ = std::move(lister); }

signals:
    void ItemsChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TPortList(QComboBox* box, TLister lister);
    void Fill(const std::vector<std::string>& items);

    QComboBox* box_;
    TLister lister_;
};

}  // namespace rv
