// Answers the modal dialogs that the code under test opens: each dialog shown is handed to the answer once its
// own event loop runs, and is remembered with what it showed.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

namespace rv::test {

class DialogAnswerer : public QObject {
public:
    explicit DialogAnswerer(std::function<void(QDialog*)> answer) : answer_(std::move(answer))
    {
        qApp->installEventFilter(this);
    }
    ~DialogAnswerer() override { qApp->removeEventFilter(this); }

    // The message boxes seen, as "caption|text".
    std::vector<std::string> boxes;
    int dialogs = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (event->type() == QEvent::Show && dialog && dialog->isWindow() && dialog->isModal()) {
            ++dialogs;
            if (auto* box = qobject_cast<QMessageBox*>(dialog))
                boxes.push_back((box->windowTitle() + "|" + box->text()).toStdString());
            QPointer<QDialog> shown(dialog);
            QTimer::singleShot(0, this, [this, shown] {
                if (shown && shown->isVisible()) answer_(shown);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(QDialog*)> answer_;
};

}  // namespace rv::test
