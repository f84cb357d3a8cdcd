// A window's hold on its serial port.
#include "app/window/TWindowPort.h"

#include "core/IDeviceLink.h"
#include "core/Loop.h"
#include "core/TTimer.h"
#include "meter/TRurIvaQs_6x6.h"

namespace rv {

TWindowPort::TWindowPort(IDeviceLink& link, TRurIvaQs_6x6& net, Loop& loop, int timeOutMs)
    : link_(link),
      net_(net),
      lost_(std::make_unique<TTimer>(nullptr, &loop)),
      lines_(MakeTimer(loop, "PortLines", kLinePauseMs))
{
    lost_->SetName("PortLost");
    lost_->SetInterval(1);
    lost_->OnTimer = Bind(this, &TWindowPort::LostTimer);
    lines_->OnTimer = Bind(this, &TWindowPort::LinesTimer);
    net_.SetName("Net_6x6");
    net_.SetDeviceComm(&link_);
    net_.SetMasterNetAddress(0xF0);
    net_.SetSlaveNetAddress(0xC9);
    net_.SetReceiving_back(true);
    net_.SetTimeOut(timeOutMs);
    net_.SetTimePackage(1);
}

TWindowPort::~TWindowPort() = default;

bool TWindowPort::Open(const std::string& port, std::string& failure, std::function<void()> ready)
{
    link_.SetCommNet(port);
    if (net_.Initialization()) {
        link_.SetOpen(true);
        openedHere_ = link_.GetOpen();
    }
    if (!link_.GetOpen()) {
        const std::string reason = link_.GetOpenError();
        failure = "Невозможно открыть порт " + port + (reason.empty() ? "." : ": " + reason);
        return false;
    }
    // The pauses run on a timer rather than in a sleep: the loop thread serves everything else meanwhile (the
    // other meters of a bench).
    ready_ = std::move(ready);
    linesRaised_ = 0;
    lines_->Start();
    return true;
}

void TWindowPort::LinesTimer(TObject*)
{
    if (linesRaised_++ == 0) {
        link_.SetDTR(true);
        return;
    }
    lines_->Stop();
    link_.SetRTS(true);
    std::function<void()> ready = std::move(ready_);
    ready_ = nullptr;
    if (ready) ready();
}

void TWindowPort::Close()
{
    lines_->Stop();
    ready_ = nullptr;
    link_.SetOpen(false);
    openedHere_ = false;
}

void TWindowPort::Abandon()
{
    lost_->Stop();
    lines_->Stop();
    ready_ = nullptr;
    net_.BreakTransmit();
    net_.AbandonRequest();
}

void TWindowPort::Release() noexcept
{
    try {
        Abandon();
        if (openedHere_) link_.SetOpen(false);
    } catch (...) {
        // A link that fails while closing cannot be helped at this point.
    }
}

void TWindowPort::Refused(const std::exception& error)
{
    if (link_.GetOpen()) return;
    // Reported from a timer, once the engine has finished with the frame it could not send.
    lostReason_ = error.what();
    lost_->SetEnabled(true);
}

void TWindowPort::LostTimer(TObject*)
{
    lost_->Stop();
    OnLost("Связь с прибором потеряна" + (lostReason_.empty() ? std::string(".") : ": " + lostReason_));
}

}  // namespace rv
