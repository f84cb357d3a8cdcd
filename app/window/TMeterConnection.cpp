// A meter window's connection: connect and disconnect, the identity, the read chain, repetitions and a lost port.
#include "app/window/TMeterConnection.h"

#include "app/window/TWindowPort.h"
#include "core/IDeviceLink.h"
#include "core/Loop.h"
#include "core/TTimer.h"
#include "meter/TRurIvaQs_6x6.h"

#include <algorithm>

namespace rv {

TMeterConnection::TMeterConnection(IDeviceLink& link, Loop& loop, int timeOutMs, size_t sensorBytesKept, TEscape escape)
    : link_(link),
      escape_(std::move(escape)),
      net_(std::make_unique<TRurIvaQs_6x6>(nullptr, &loop)),
      port_(std::make_unique<TWindowPort>(link_, *net_, loop, timeOutMs)),
      chain_(sensorBytesKept),
      loop_(loop),
      silence_(MakeTimer(loop, "Silence", kSilenceMs))
{
    silence_->OnTimer = Bind(this, &TMeterConnection::SilenceTimer);
    net_->OnRepetition = Bind(this, &TMeterConnection::Repetition);
    net_->OnTransmitError = Bind(this, &TMeterConnection::TransmitError);
    port_->OnLost = Bind(this, &TMeterConnection::Lost);
    ResetHandlers();
}

TMeterConnection::~TMeterConnection()
{
    silence_->Stop();
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
    silence_->Stop();
    asking_ = false;
    silenceLimit_ = kSilenceMs;
    quietSince_ = loop_.NowMs();
}

bool TMeterConnection::Connect(const std::string& port, std::string& failure)
{
    Abandon();
    if (!port_->Open(port, failure, [this] { Guarded([&] { net_->GetDeviceID(); }); })) return false;
    connected_ = true;
    identifying_ = true;
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
    Guarded([&] {
        if (connected_) WatchSilence();
        OnRepetition(n);
    });
}

void TMeterConnection::WatchSilence()
{
    if (asking_ || silence_->GetEnabled()) return;
    const SLineStatistics& stats = net_->GetStatistics();
    uint64_t since = quietSince_;
    if (stats.LastAnswerMs >= 0 && static_cast<uint64_t>(stats.LastAnswerMs) > since) {
        // The meter answered since the last question: it is silent again, not still.
        since = static_cast<uint64_t>(stats.LastAnswerMs);
        silenceLimit_ = kSilenceMs;
    }
    const uint64_t now = loop_.NowMs();
    const uint64_t silent = now > since ? now - since : 0;
    answersWatched_ = stats.Answers;
    silence_->SetInterval(static_cast<uint32_t>(silent >= silenceLimit_ ? 1 : silenceLimit_ - silent));
    silence_->Start();
}

void TMeterConnection::SilenceTimer(TObject*)
{
    Guarded([&] {
        silence_->Stop();
        // An answer in the meantime: the next repetition starts a new wait.
        if (!connected_ || net_->GetStatistics().Answers != answersWatched_) return;
        asking_ = true;
        OnSilent();
    });
}

void TMeterConnection::KeepTrying()
{
    asking_ = false;
    silenceLimit_ = kSilenceAgainMs;
    quietSince_ = loop_.NowMs();
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
