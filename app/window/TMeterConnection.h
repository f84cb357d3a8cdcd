// A meter window's connection: its meter command set over the window's link, the port hold, the identity request
// and the read chain of the configuration and sensor records, repetitions, a frame the link refused and a port
// lost under the window. The main window and the KFS window each own one; each keeps its own stage and texts.
//
// Threading: loop thread only. The events are raised from the meter command set's handlers; an exception that
// escapes one is handed to the window's escape handler, never to the engine.
#pragma once

#include "app/window/MeterImages.h"
#include "app/window/TConfigReadChain.h"
#include "core/Event.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace rv {

class IDeviceLink;
class Loop;
class TObject;
class TTimer;
class TRurIvaQs_6x6;
class TWindowPort;
struct SIDDevice;

class TMeterConnection {
public:
    using TEscape = std::function<void(std::exception_ptr error)>;

    // The link is the window's (not owned; it must outlive this). timeOutMs is the engine's answer time-out;
    // sensorBytesKept how much of each sensor record the window keeps.
    TMeterConnection(IDeviceLink& link, Loop& loop, int timeOutMs, size_t sensorBytesKept, TEscape escape);
    // Abandons what is under way and closes the port if Connect opened it. Never throws.
    ~TMeterConnection();
    TMeterConnection(const TMeterConnection&) = delete;
    TMeterConnection& operator=(const TMeterConnection&) = delete;

    // Abandons, opens the port by name (DTR, then RTS, raised after it) and, once they are up, asks the meter's
    // identity; OnIdentity follows. False, with the message for the technician, when the port would not open.
    bool Connect(const std::string& port, std::string& failure);
    // Abandons and closes the port.
    void Disconnect();
    // Stops the request under way, the transmission and the read chain, and forgets a lost port not yet
    // reported: nothing of an earlier step fires afterwards, and an answer that arrives late goes nowhere.
    void Abandon();
    // Answers of the step under way go nowhere from now on.
    void IgnoreAnswers();
    // Puts the answer slots back to the connection's own: answers go nowhere, the identity to OnIdentity.
    void ResetHandlers();
    // Reads the configuration record and the six sensor records; OnRead follows each answer.
    void ReadRecords();
    // True from a Connect that opened the port until Disconnect or the loss of the port.
    bool Connected() const { return connected_; }

    TRurIvaQs_6x6& Net() { return *net_; }
    const TRurIvaQs_6x6& Net() const { return *net_; }
    IDeviceLink& Link() { return link_; }
    const TConfigReadChain& Chain() const { return chain_; }
    TConfigReadChain& Chain() { return chain_; }

    // The identity asked by Connect (only that one: a later identity request rebinds its own handler).
    Event<void(const SIDDevice& id)> OnIdentity;
    // The read chain stored an answer.
    Event<void(TReadProgress progress)> OnRead;
    // The engine repeats its request for the n-th time.
    Event<void(int n)> OnRepetition;
    // The port closed under the connection (an adapter unplugged): the message for the technician. Connected()
    // is false by then; the window lets its connection go.
    Event<void(const std::string& message)> OnLost;

    // The meter gave no valid answer for SilenceLimitMs while the engine repeated its request: the window asks
    // the technician whether to go on (raised once; KeepTrying or Abandon follows).
    Event<void()> OnSilent;
    // Goes on repeating and raises OnSilent again after kSilenceAgainMs more without an answer.
    void KeepTrying();
    static constexpr uint32_t kSilenceMs = 10000;
    static constexpr uint32_t kSilenceAgainMs = 30000;

    // "Переповторы N": what both windows show on a repetition.
    static std::string RepetitionStatus(int n);

private:
    void IdentityAnswer(const SIDDevice* id);
    void ReadAnswer(short length, unsigned char* buffer);
    void IgnoreAnswer(short length, unsigned char* buffer);
    void Repetition(int n);
    void TransmitError(const std::exception& error);
    void Lost(const std::string& message);
    void SilenceTimer(TObject* Sender);
    // Starts the wait for the silence limit when it is not running: from the last answer, or from the moment
    // the connection began or the technician chose to go on, whichever is later.
    void WatchSilence();
    template <class F>
    void Guarded(F&& body);

    IDeviceLink& link_;
    TEscape escape_;
    std::unique_ptr<TRurIvaQs_6x6> net_;
    std::unique_ptr<TWindowPort> port_;
    TConfigReadChain chain_;
    Loop& loop_;
    std::unique_ptr<TTimer> silence_;
    uint64_t quietSince_ = 0;          // the silence is counted from here at the latest
    uint32_t silenceLimit_ = kSilenceMs;
    uint64_t answersWatched_ = 0;      // answers accepted when the wait began
    bool asking_ = false;              // OnSilent was raised and not answered yet
    bool identifying_ = false;
    bool connected_ = false;
};

}  // namespace rv
