// The port's asynchronous transfers: the port checks and the completion routine that counts the
// bytes and raises OnSend or OnRead on the loop thread.
#include "CommErrors.h"
#include "TCustomComm.h"

namespace rv {

void TCustomComm::RequireAsyncOpen() const
{
    if (!GetOpened() || endingAsync_) XCommError(SCommClosed, ecCommClosed);
}

HASYNC TCustomComm::InitAsync(TAsyncProc P, bool R)
{
    asyncProc_ = std::move(P);
    RequireAsyncOpen();
    return InternalInitAsync(device_.get(), TAsyncProc(this, &TCustomComm::InternalAsyncProc), R, this, platform_);
}

bool TCustomComm::CloseAsync(HASYNC H) { return InternalCloseAsync(H); }

uint32_t TCustomComm::SendAsync(HASYNC H, const void* Buffer, uint32_t Count)
{
    RequireAsyncOpen();
    if (GetLocked()) XCommError(SLockedSend, ecLockedSend);
    const uint32_t n = InternalWriteAsync(H, Buffer, Count);
    HandleEvents({deOutEmpty});
    return n;
}

uint32_t TCustomComm::SendStringAsync(HASYNC H, const std::string& S)
{
    RequireAsyncOpen();
    if (GetLocked()) XCommError(SLockedSend, ecLockedSend);
    const uint32_t n = S.empty() ? 0 : InternalWriteStringAsync(H, S);
    HandleEvents({deOutEmpty});
    return n;
}

uint32_t TCustomComm::ReadAsync(HASYNC H, void* Buffer, uint32_t Count)
{
    RequireAsyncOpen();
    if (GetLocked()) XCommError(SLockedRead, ecLockedRead);
    return InternalReadAsync(H, Buffer, Count);
}

uint32_t TCustomComm::ReadStringAsync(HASYNC H, std::string& S)
{
    RequireAsyncOpen();
    if (GetLocked()) XCommError(SLockedRead, ecLockedRead);
    return InternalReadStringAsync(H, S);
}

bool TCustomComm::WaitAsync(HASYNC H, const TWaitProc& WaitProc)
{
    RequireAsyncOpen();
    return InternalWaitAsync(H, WaitProc);
}

void TCustomComm::InternalAsyncProc(bool Success, void* Data, int32_t Count)
{
    // A port being destroyed raises nothing more, as with its device events.
    if (destroying_) return;
    if (Success) {
        if (Data) takenOut_ += static_cast<uint32_t>(Count);
        else sent_ += static_cast<uint32_t>(Count);
        // Under the callback lock like every OnRead and OnSend: no reading or writing inside them.
        callbackLock_ = true;
        try {
            if (Data) OnRead(this);
            else OnSend(this);
        } catch (...) {
            callbackLock_ = false;
            throw;
        }
        callbackLock_ = false;
    }
    // A copy: the handler may replace itself through InitAsync while it runs.
    const TAsyncProc handler = asyncProc_;
    handler(Success, Data, Count);
}

void TCustomComm::EndAsync(bool Forget)
{
    endingAsync_ = true;
    // Running transfers wait in the device; cancelling ends them as failures at once.
    if (device_) device_->Cancel();
    EndAsyncTransfers(this, Forget);
    endingAsync_ = false;
}

}  // namespace rv
