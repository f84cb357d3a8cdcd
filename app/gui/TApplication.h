// The GUI's application object: an exception that escapes an event handler is shown, and the program goes on.
#pragma once

#include <QApplication>

#include <exception>
#include <functional>

namespace rv {

class TApplication : public QApplication {
    Q_OBJECT
public:
    using TExceptionDisplay = std::function<void(const std::exception& error)>;

    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // How an escaped exception is shown; unset, an error box shows its message.
    void SetExceptionDisplay(TExceptionDisplay display) { display_ = std::move(display); }
    // Shows an exception caught anywhere: a thrown object that is no std::exception as one with an empty
    // message. Call inside a catch block.
    void ShowCurrentException();

    bool notify(QObject* receiver, QEvent* event) override;

private:
    TExceptionDisplay display_;
};

// The decimal separator of the user's locale, as Qt sees it, for every number the program writes or reads.
void UseSystemDecimalSeparator();

}  // namespace rv
