// Asynchronous one-shot transfers on an open device: operation records named by HASYNC handles,
// the start functions that hand one read or write to a TAsyncThread worker, and the wait that
// keeps the loop running until a transfer is done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "core/Event.h"

namespace rv {

class ISerialDevice;
class ISerialPlatform;

// Names one operation record. Handles are looked up in a table of live records, so 0, a handle
// never issued and a released one are all simply invalid.
using HASYNC = uint32_t;

// Called at completion on the loop thread. Data: the caller's buffer for a read, the caller's
// std::string for a string read, null for a write. Count: the bytes moved.
using TAsyncProc = Event<void(bool Success, void* Data, int32_t Count)>;
// Asked after every pump step of a wait; true ends the wait.
using TWaitProc = Event<bool()>;

inline constexpr unsigned SHInvalidHandleId = 65504;
extern const char* const SHInvalidHandle;  // "Invalid HASYNC handle value."

// A handle that names no live record, or one whose record cannot carry the transfer asked of it.
class EAsyncError : public std::runtime_error {
public:
    explicit EAsyncError(const std::string& Message) : std::runtime_error(Message) {}
};

// Bits of a record's flag byte.
enum : uint8_t {
    afDone = 0x01,             // set at creation, cleared when a transfer starts, set at its end
    afSuccess = 0x02,          // the transfer ended without a device error; the count says what it moved
    afReleaseWhenDone = 0x04,  // the worker releases the record after completion
    afStringRead = 0x08        // the buffer is a std::string, cut to the bytes read at completion
};

bool IsHandleValid(HASYNC H);
// True as well for a handle that is not valid.
bool IsAsyncDone(HASYNC H);

// A new record for one transfer on D, done and idle. P is called at completion; R: release the
// record once the transfer is done. Owner groups records for EndAsyncTransfers (null: D). Clock
// keeps the ticks of the transfer's time-out (null: the default platform).
HASYNC InternalInitAsync(ISerialDevice* D, TAsyncProc P, bool R, const void* Owner = nullptr,
                         ISerialPlatform* Clock = nullptr);
// Releases a done record and returns true; a record with a running transfer is left alone (false).
// Invalid H: EAsyncError.
bool InternalCloseAsync(HASYNC H);

// The start functions begin the one transfer a record carries and return at once: the bytes moved
// on the spot when that already finished the transfer, else 0. A worker completes it. The device's
// time-outs bound the transfer as they bound the system's own: a read with the interval time-out
// 0xFFFFFFFF and no total one (what an open port sets) ends at once with what was queued, even
// nothing; otherwise a transfer ends, as a success with what it moved, when the total time-out
// (multiplier per byte plus constant, from the start; none when both are 0) has passed. A transfer
// the device refuses or fails, or whose device was closed, completes as a failure. Invalid H, or a
// record that already carried a transfer: EAsyncError. The caller's buffer must live until completion.
uint32_t InternalReadAsync(HASYNC H, void* Buffer, uint32_t Count);
// Reads the bytes queued now into S (nothing when the device cannot tell); S is cut to what came.
uint32_t InternalReadStringAsync(HASYNC H, std::string& S);
uint32_t InternalWriteAsync(HASYNC H, const void* Buffer, uint32_t Count);
// Writes a copy of S's characters: S may go away before the transfer ends.
uint32_t InternalWriteStringAsync(HASYNC H, const std::string& S);

// Runs the loop one step at a time (on the loop thread; elsewhere it blocks) until the transfer is
// done, asking WaitProc after each step. True when done; false when WaitProc ended the wait first.
// A release-when-done record is released here once done, else left to the worker.
bool InternalWaitAsync(HASYNC H, const TWaitProc& WaitProc);

// Before Owner's device is closed (the caller has cancelled its waits): no later transfer of
// Owner's records touches the device, and this returns once every running transfer of Owner has
// ended and made its completion call (served here when called on the loop thread). Forget: Owner
// is going away, so its records' completion procedures are dropped as well. A completion call
// that led here is not waited for.
void EndAsyncTransfers(const void* Owner, bool Forget);

// The application's title setter; a worker's "Started" reaches it on the loop thread.
using TTitleHook = std::function<void(const std::string& Title)>;
void SetApplicationTitleHook(TTitleHook Hook);

// For tests and diagnostics: live records and workers that have not ended.
size_t AsyncRecordCount();
size_t AsyncThreadCount();

}  // namespace rv
