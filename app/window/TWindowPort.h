// A window's hold on its serial port: its meter command set set up as the windows set theirs, opening the port
// (the lines raised after it) and closing it, giving up what is under way, and noticing a port that closes under
// the window (an adapter unplugged). The main window and the KFS window each keep one over their own link.
//
// Threading: loop thread only.
#pragma once

#include "core/Event.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace rv {

class IDeviceLink;
class Loop;
class TRurIvaQs_6x6;
class TTimer;

class TWindowPort {
public:
    // Sets net up on link (master 0xF0, slave 0xC9, echo, package delay 1, the time-out given). Link and net
    // are the window's and must outlive this.
    TWindowPort(IDeviceLink& link, TRurIvaQs_6x6& net, Loop& loop, int timeOutMs);
    ~TWindowPort();
    TWindowPort(const TWindowPort&) = delete;
    TWindowPort& operator=(const TWindowPort&) = delete;

    // Opens the port by name; once open, raises DTR 100 ms later and RTS 100 ms after that, then ready follows
    // from the loop (unless Abandon or Close came first). False, with the message for the technician, when the
    // port would not open; ready never follows then.
    bool Open(const std::string& port, std::string& failure, std::function<void()> ready);
    void Close();
    // Stops the request under way and the transmission itself, and forgets a lost port not yet reported:
    // nothing of an earlier step is retried towards a port given up.
    void Abandon();
    // For the window's destruction: Abandon, and close the port if Open opened it. Never throws.
    void Release() noexcept;

    // The link refused a frame while the window holds its connection. When the port has closed under it,
    // OnLost follows from the loop, once the engine has finished with the frame it could not send.
    void Refused(const std::exception& error);
    // The message for the technician ("Связь с прибором потеряна…"); the window checks that it still holds
    // the connection and that the port is still closed.
    Event<void(const std::string& message)> OnLost;

private:
    void LostTimer(TObject* Sender);
    void LinesTimer(TObject* Sender);
    static constexpr uint32_t kLinePauseMs = 100;

    IDeviceLink& link_;
    TRurIvaQs_6x6& net_;
    std::unique_ptr<TTimer> lost_;
    std::unique_ptr<TTimer> lines_;
    std::function<void()> ready_;
    int linesRaised_ = 0;
    std::string lostReason_;
    bool openedHere_ = false;
};

}  // namespace rv
