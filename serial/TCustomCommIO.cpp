// The port's data path: reads and writes with time-outs, the text wait, and the turning of
// device events into OnData and OnCommEvent. Where nothing can be done yet the calls wait in
// the device (poll) for the rest of their time-out instead of asking the queues again.
#include <algorithm>

#include "CommErrors.h"
#include "TCustomComm.h"
#include "core/Loop.h"

namespace rv {

namespace {

// A full output queue drains without a wake-up of its own; look again after this long.
constexpr uint32_t kDrainLookMs = 10;
// WaitForString without a limit still notices the application ending within this long.
constexpr uint32_t kStringWaitSliceMs = 100;

bool Ended(TWaitResult r) { return r == TWaitResult::Cancelled || r == TWaitResult::Failed; }

// Runs a handler under the callback lock, which is cleared even when the handler raises.
template <class Fn>
void UnderLock(std::atomic<bool>& lock, Fn&& fn)
{
    lock = true;
    try {
        fn();
    } catch (...) {
        lock = false;
        throw;
    }
    lock = false;
}

}  // namespace

uint32_t TCustomComm::RemainingWait(uint32_t Start, uint32_t Timeout) const
{
    const uint32_t elapsed = TickCount() - Start;
    const uint64_t left = static_cast<uint64_t>(Timeout) + 1 - std::min(elapsed, Timeout);
    return static_cast<uint32_t>(std::min<uint64_t>(left, 0x7FFFFFFFu));
}

uint32_t TCustomComm::SendDataEx(const void* Buffer, uint32_t Count, uint32_t Timeout)
{
    RequireOpen();
    if (GetLocked()) XCommError(SLockedSend, ecLockedSend);
    if (Count == 0) return 0;
    const auto* p = static_cast<const uint8_t*>(Buffer);
    const uint32_t start = TickCount();
    uint32_t total = 0;
    while (Count > 0 && GetOpened()) {
        // An output queue fuller than OutputSize gives a huge room: the rest goes in one piece.
        const uint32_t room = static_cast<uint32_t>(buffers_.GetOutputSize()) - GetCount(1);
        if (room != 0) {
            const int64_t n = device_->Write(p, std::min(room, Count));
            if (n < 0) RaiseSystemError(SSendError, ecSendError);
            // Every write pass reports the output side, also one that moved nothing.
            HandleEvents({deOutEmpty});
            if (n > 0) {
                const auto moved = static_cast<uint32_t>(n);
                sent_ += moved;
                total += moved;
                Count -= moved;
                p += moved;
                UnderLock(callbackLock_, [&] { OnSend(this); });
                continue;
            }
        }
        if (TickCount() - start > Timeout || !GetOpened()) break;
        const uint32_t wait = RemainingWait(start, Timeout);
        if (Ended(room ? device_->WaitWritable(wait) : device_->Pause(std::min(wait, kDrainLookMs)))) break;
    }
    return total;
}

uint32_t TCustomComm::SendData(const void* Buffer, uint32_t Count)
{
    return SendDataEx(Buffer, Count, buffers_.GetOutputTimeout());
}

bool TCustomComm::SendByte(uint8_t B) { return SendData(&B, 1) == 1; }

bool TCustomComm::SendString(const std::string& S)
{
    return SendData(S.data(), static_cast<uint32_t>(S.size())) == S.size();
}

uint32_t TCustomComm::ReadDataEx(void* Buffer, uint32_t Count, uint32_t Timeout)
{
    RequireOpen();
    if (GetLocked()) XCommError(SLockedRead, ecLockedRead);
    if (Count == 0) return 0;
    auto* p = static_cast<uint8_t*>(Buffer);
    const uint32_t start = TickCount();
    uint32_t total = 0;
    while (Count > 0 && GetOpened()) {
        const uint32_t available = GetCount(0);
        if (available != 0) {
            const int64_t n = device_->Read(p, std::min(available, Count));
            if (n < 0) RaiseSystemError(SReadError, ecReadError);
            const auto moved = static_cast<uint32_t>(n);
            takenOut_ += moved;
            total += moved;
            Count -= moved;
            p += moved;
            // Nothing read although bytes were counted: another reader took them; wait below.
            if (moved > 0) {
                UnderLock(callbackLock_, [&] { OnRead(this); });
                continue;
            }
        }
        if (TickCount() - start > Timeout || !GetOpened()) break;
        if (Ended(device_->WaitReadable(RemainingWait(start, Timeout)))) break;
    }
    return total;
}

uint32_t TCustomComm::ReadData(void* Buffer, uint32_t Count)
{
    return ReadDataEx(Buffer, Count, buffers_.GetInputTimeout());
}

bool TCustomComm::ReadByte(uint8_t& B) { return ReadData(&B, 1) == 1; }

bool TCustomComm::ReadString(std::string& S)
{
    std::string text(GetCount(0), '\0');
    text.resize(ReadData(text.data(), static_cast<uint32_t>(text.size())));
    S = std::move(text);
    return !S.empty();
}

bool TCustomComm::ReadString(std::string& S, int Count)
{
    if (Count < 1 || GetCount(0) < static_cast<uint32_t>(Count)) return false;
    S.assign(static_cast<size_t>(Count), '\0');
    return ReadData(S.data(), static_cast<uint32_t>(Count)) == static_cast<uint32_t>(Count);
}

bool TCustomComm::WaitForString(const std::vector<std::string>& Strings, uint32_t Timeout)
{
    RequireOpen();
    if (GetLocked()) XCommError(SLockedRead, ecLockedRead);
    struct Flag {
        std::atomic<bool>& f;
        explicit Flag(std::atomic<bool>& flag) : f(flag) { f = true; }
        ~Flag() { f = false; }
    } waiting(stringWait_);

    // A match ends the wait at the byte that completes it, so only the last bytes as long as
    // the longest string can take part in one: the text kept is bounded by that.
    size_t keep = 0;
    for (const auto& s : Strings) keep = std::max(keep, s.size());
    std::string text;
    const uint32_t start = TickCount();
    for (;;) {
        if (GetCount(0) > 0) {
            uint8_t c = 0;
            if (ReadDataEx(&c, 1, 0) == 1) {
                text += static_cast<char>(c);
                if (text.size() > keep) text.erase(0, text.size() - keep);
                for (const auto& s : Strings)
                    if (!s.empty() && text.find(s) != std::string::npos) return true;
            }
        } else {
            uint32_t wait = kStringWaitSliceMs;
            if (Timeout != 0) wait = std::min(wait, Timeout - std::min(TickCount() - start, Timeout));
            if (wait > 0 && Ended(device_->WaitReadable(wait))) return false;
        }
        if (Timeout != 0 && TickCount() - start >= Timeout) return false;
        const Loop* loop = loop_ ? loop_ : Loop::CurrentOrNull();
        if ((loop && loop->Terminating()) || !GetOpened()) return false;
    }
}

bool TCustomComm::GetLocked() { return !GetOpened() || callbackLock_; }

bool TCustomComm::WaitForInput(uint32_t Ms)
{
    if (!device_) return false;
    if (GetCount(0) > 0) return true;
    return device_->WaitReadable(Ms) == TWaitResult::Ready;
}

void TCustomComm::HandleEvents(TDeviceEvents Events)
{
    if (!GetOpened() || destroying_ || stringWait_) return;
    if (Events.Contains(deChar) || Events.Contains(deFlag)) ReceiveData(GetCount(0));
    if (!GetOpened()) return;  // the data handler closed the port
    const TDeviceEvents monitored = Events & GetMonitorEvents();
    if (OnCommEvent && !monitored.Empty()) OnCommEvent(this, monitored);
}

void TCustomComm::ReceiveData(uint32_t Count)
{
    if (!stringWait_ && OnData) OnData(this, Count);
}

void TCustomComm::DeviceLost()
{
    deviceLost_ = true;
    OnDeviceLost(this);
}

}  // namespace rv
