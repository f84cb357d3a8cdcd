// The operation record of an asynchronous transfer, and the state that the start functions, the
// workers and closing ports share under one lock. Internal to the serial layer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "TAsyncThread.h"
#include "XAsync.h"

namespace rv {

class ISerialPlatform;
class Loop;

struct SAsyncRecord {
    // Fields below up to Proc change under the state lock only.
    HASYNC Handle = 0;
    uint32_t Check = 0;               // ~Handle while the record is live, 0 once released
    ISerialDevice* Device = nullptr;  // null once its owner closed the device
    const void* Owner = nullptr;
    void* Buffer = nullptr;
    TAsyncProc Proc;
    bool Used = false;  // a record carries one transfer

    // Shared by the waiter and the worker without the lock.
    std::atomic<uint8_t> Flags{afDone};
    std::atomic<int> Waiters{0};
    std::mutex WaitMu;
    std::condition_variable WaitCv;  // done, for waiters off the loop thread

    Loop* CallLoop = nullptr;          // where completion calls, titles and waits go; null: no loop
    ISerialPlatform* Clock = nullptr;  // the ticks the transfer's time-out is measured in

    // The transfer: set by the start function before the worker starts, then the worker's own.
    bool Write = false;
    uint8_t* Data = nullptr;
    uint32_t Wanted = 0;
    uint32_t Moved = 0;
    uint32_t Start = 0;      // tick of the first attempt
    uint32_t Limit = 0;      // ms from Start after which the transfer ends with what it moved
    bool Unlimited = false;  // the device's time-outs set no limit: only all bytes or a failure end it
    bool Refused = false;    // the device refused it at once, or was closed
    std::string Owned;       // the bytes of a string write
    uint32_t Count = 0;      // bytes moved, filled in at completion
};

// A port waiting in EndAsyncTransfers. Loop: the loop it serves hand-overs of, null when it waits
// on the state's condition instead.
struct SAsyncCloser {
    const void* Owner = nullptr;
    Loop* ServedLoop = nullptr;
};

struct SAsyncState {
    std::mutex mu;
    std::unordered_map<HASYNC, std::shared_ptr<SAsyncRecord>> records;
    HASYNC lastHandle = 0;
    // Workers not yet ended; one that ends while a closer waits for it stays here to be joined.
    std::list<std::unique_ptr<TAsyncThread>> workers;
    std::vector<SAsyncCloser*> closers;
    std::condition_variable closerCv;
};

// Never destroyed, so a worker that ends while the program exits still finds it.
SAsyncState& AsyncState();

// The handle names nothing from now on; the memory goes with the last holder. Lock held.
void ReleaseRecordLocked(SAsyncState& st, SAsyncRecord& rec);

// Hands Title to the application's title hook, on loop's thread when there is a loop.
void ShowApplicationTitle(Loop* loop, const char* Title);

}  // namespace rv
