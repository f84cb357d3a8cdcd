// A meter window's connection: connect and disconnect, the identity, the read chain, repetitions and a lost port.
#include "app/window/TMeterConnection.h"

#include "app/window/TWindowPort.h"
#include "core/IDeviceLink.h"
#include "meter/TRurIvaQs_6x6.h"

namespace rv {

TMeterConnection::TMeterConnection(IDeviceLink& link, Loop& loop, int timeOutMs, size_t sensorBytesKept, TEscape escape)
    : link_(link),
      escape_(std::move(escape)),
      net_(std::make_unique<TRurIvaQs_6x6>(nullptr, &loop)),
      port_(std::make_unique<TWindowPort>(link_, *net_, loop, timeOutMs)),
      chain_(sensorBytesKept)
{
    net_->OnRepetition = Bind(this, &TMeterConnection::Repetition);
    net_->OnTransmitError = Bind(this, &TMeterConnection::TransmitError);
    port_->OnLost = Bind(this, &TMeterConnection::Lost);
    ResetHandlers();
}

TMeterConnection::~TMeterConnection()
{
    port_->Release();
}

template <class F>
void TMeterConnection::Guarded(F&& body)
{
    try {
        body();
    } catch (...) {
        if (escape_) escape_(std::current_exception());
    }
}

std::string TMeterConnection::RepetitionStatus(int n)
{
    return "Переповторы " + std::to_string(n);
}

void TMeterConnection::IgnoreAnswers()
{
    // The slot may still hold a handler of a step; a byte that arrives late must not start its next one.
    net_->OnReceiveExecuted = Bind(this, &TMeterConnection::IgnoreAnswer);
}

void TMeterConnection::ResetHandlers()
{
    IgnoreAnswers();
    net_->OnReceivedIDDevice = Bind(this, &TMeterConnection::IdentityAnswer);
}

void TMeterConnection::Abandon()
{
    port_->Abandon();
    ResetHandlers();
    chain_.Stop();
    identifying_ = false;
}

bool TMeterConnection::Connect(const std::string& port, std::string& failure)
{
    Abandon();
    if (!port_->Open(port, failure)) return false;
    connected_ = true;
    identifying_ = true;
    net_->GetDeviceID();
    return true;
}

void TMeterConnection::Disconnect()
{
    Abandon();
    connected_ = false;
    port_->Close();
}

void TMeterConnection::ReadRecords()
{
    net_->OnReceiveExecuted = Bind(this, &TMeterConnection::ReadAnswer);
    chain_.Start(*net_);
}

void TMeterConnection::IdentityAnswer(const SIDDevice* id)
{
    Guarded([&] {
        if (!id || !identifying_) return;
        identifying_ = false;
        OnIdentity(*id);
    });
}

void TMeterConnection::ReadAnswer(short length, unsigned char* buffer)
{
    Guarded([&] {
        if (!chain_.Running()) return;
        const TReadProgress progress = chain_.Receive(*net_, length, buffer);
        if (progress != rpNothing) OnRead(progress);
    });
}

void TMeterConnection::IgnoreAnswer(short, unsigned char*) {}

void TMeterConnection::Repetition(int n)
{
    Guarded([&] { OnRepetition(n); });
}

void TMeterConnection::TransmitError(const std::exception& error)
{
    Guarded([&] {
        if (connected_) port_->Refused(error);
    });
}

void TMeterConnection::Lost(const std::string& message)
{
    Guarded([&] {
        if (!connected_ || link_.GetOpen()) return;
        connected_ = false;
        OnLost(message);
    });
}

}  // namespace rv
