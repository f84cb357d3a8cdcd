// A window's hold on its serial port.
#include "app/window/TWindowPort.h"

#include "core/IDeviceLink.h"
#include "core/Loop.h"
#include "core/TTimer.h"
#include "meter/TRurIvaQs_6x6.h"

namespace rv {

TWindowPort::TWindowPort(IDeviceLink& link, TRurIvaQs_6x6& net, Loop& loop, int timeOutMs)
    : link_(link), net_(net), loop_(loop), lost_(std::make_unique<TTimer>(nullptr, &loop))
{
    lost_->SetName("PortLost");
    lost_->SetInterval(1);
    lost_->OnTimer = Bind(this, &TWindowPort::LostTimer);
    net_.SetName("Net_6x6");
    net_.SetDeviceComm(&link_);
    net_.SetMasterNetAddress(0xF0);
    net_.SetSlaveNetAddress(0xC9);
    net_.SetReceiving_back(true);
    net_.SetTimeOut(timeOutMs);
    net_.SetTimePackage(1);
}

TWindowPort::~TWindowPort() = default;

bool TWindowPort::Open(const std::string& port, std::string& failure)
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
    loop_.Sleep(100);
    link_.SetDTR(true);
    loop_.Sleep(100);
    link_.SetRTS(true);
    return true;
}

void TWindowPort::Close()
{
    link_.SetOpen(false);
    openedHere_ = false;
}

void TWindowPort::Abandon()
{
    lost_->Stop();
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
