// The loop interface on the Qt event loop, for the GUI program and the headless runner.
#pragma once

#include <QElapsedTimer>
#include <QObject>

#include "../Loop.h"

class QTimer;

namespace rv {

class QtLoop : public QObject, public Loop {
public:
    // Needs a QCoreApplication (or QApplication) created on this thread.
    QtLoop();
    ~QtLoop() override;

    uint64_t NowMs() const override;
    void Sleep(uint32_t ms) override;
    void ProcessOne(uint32_t maxWaitMs) override;

protected:
    void Wake() override;
    void TimersChanged() override { Rearm(); }

private:
    void Service();
    void Rearm();

    QElapsedTimer clock_;
    QTimer* timer_;
};

}  // namespace rv
