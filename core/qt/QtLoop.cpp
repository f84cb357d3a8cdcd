// Qt adapter: one precise QTimer tracks the earliest loop deadline; hand-overs arrive as queued calls.
#include "QtLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace rv {

QtLoop::QtLoop() : timer_(new QTimer(this))
{
    clock_.start();
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, this, [this] { Service(); });
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { Terminate(); });
    Rearm();
}

QtLoop::~QtLoop() { timer_->stop(); }

uint64_t QtLoop::NowMs() const { return static_cast<uint64_t>(clock_.elapsed()); }

void QtLoop::Sleep(uint32_t ms) { QThread::msleep(ms); }

void QtLoop::Wake()
{
    QMetaObject::invokeMethod(this, [this] { Service(); }, Qt::QueuedConnection);
}

void QtLoop::Service()
{
    RunPending();
    RunDueTimers();
    Rearm();
}

void QtLoop::Rearm()
{
    const uint64_t next = NextDeadline();
    if (next == UINT64_MAX) {
        timer_->stop();
        return;
    }
    const uint64_t now = NowMs();
    timer_->start(static_cast<int>(next > now ? std::min<uint64_t>(next - now, 1000) : 0));
}

void QtLoop::ProcessOne(uint32_t maxWaitMs)
{
    Service();
    // The bound timer makes the blocking wait end after maxWaitMs at the latest.
    QTimer bound;
    bound.setSingleShot(true);
    bound.start(static_cast<int>(maxWaitMs));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Service();
}

}  // namespace rv
