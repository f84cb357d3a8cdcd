// The worker of one asynchronous transfer: it performs the transfer on the device, completes the
// record, makes the completion call on the loop thread and releases itself. Closing ports wait
// here for the workers of their records.
#pragma once

#include <list>
#include <memory>
#include <thread>

namespace rv {

class ISerialDevice;
struct SAsyncRecord;
struct SAsyncState;

class TAsyncThread {
public:
    // A worker for Rec's transfer, counted among its owner's running transfers from now on but not
    // started yet. State lock held.
    static TAsyncThread& Reserve(SAsyncState& st, std::shared_ptr<SAsyncRecord> Rec);
    // Starts the reserved worker; from then on it ends and releases itself. When no thread can be
    // made the record completes as failed, without a completion call, the worker is gone, and the
    // error passes on.
    void Start();
    // Gives up a reserved worker that never started: the record completes as failed, no call made.
    void Abandon();

    // See EndAsyncTransfers.
    static void EndTransfers(const void* Owner, bool Forget);

    ~TAsyncThread();
    TAsyncThread(const TAsyncThread&) = delete;
    TAsyncThread& operator=(const TAsyncThread&) = delete;

private:
    explicit TAsyncThread(std::shared_ptr<SAsyncRecord> Rec);
    void Execute();
    bool Transfer();
    void Complete(bool Success);
    // Leaves the state: released at once, or left for the closer that waits for it to join.
    void Finish();
    // Takes this worker out of the state and destroys it. Lock held.
    void RemoveLocked(SAsyncState& st);

    std::shared_ptr<SAsyncRecord> rec_;
    ISerialDevice* device_;  // null when the transfer was refused before it began
    const void* owner_;
    std::thread thread_;
    std::list<std::unique_ptr<TAsyncThread>>::iterator self_;
    // Under the state lock: the thread its completion call runs on now, and whether it ended
    // while a closer waited for it.
    std::thread::id completingOn_;
    bool ended_ = false;
};

}  // namespace rv
