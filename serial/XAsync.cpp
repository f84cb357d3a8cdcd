// The table of live operation records, the start functions and the wait. A handle is only ever
// a key into the table, so a stale or made-up one is invalid without any memory being read.
#include "XAsync.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "AsyncRecord.h"
#include "ISerialPlatform.h"
#include "TAsyncThread.h"
#include "core/Loop.h"

namespace rv {

const char* const SHInvalidHandle = "Invalid HASYNC handle value.";

namespace {

// How long one pump step of a wait may sleep before the wait procedure is asked again.
constexpr uint32_t kPumpStepMs = 50;

std::mutex g_titleMu;
TTitleHook g_titleHook;
std::atomic<bool> g_hasTitleHook{false};

[[noreturn]] void InvalidHandle() { throw EAsyncError(SHInvalidHandle); }

std::shared_ptr<SAsyncRecord> FindLocked(SAsyncState& st, HASYNC H)
{
    if (H == 0) return nullptr;
    const auto it = st.records.find(H);
    if (it == st.records.end() || it->second->Check != ~H) return nullptr;
    return it->second;
}

std::shared_ptr<SAsyncRecord> Find(HASYNC H)
{
    SAsyncState& st = AsyncState();
    std::lock_guard<std::mutex> lk(st.mu);
    return FindLocked(st, H);
}

// A transfer being started: its record claimed, its worker reserved, the device it will use.
struct SStart {
    std::shared_ptr<SAsyncRecord> rec;
    TAsyncThread* worker;
    ISerialDevice* device;
};

SStart BeginTransfer(HASYNC H, void* Buffer, bool Write)
{
    SAsyncState& st = AsyncState();
    std::lock_guard<std::mutex> lk(st.mu);
    std::shared_ptr<SAsyncRecord> rec = FindLocked(st, H);
    // A record carries one transfer: a second one would share the record with the first.
    if (!rec || rec->Used) InvalidHandle();
    rec->Used = true;
    rec->Buffer = Buffer;
    rec->Write = Write;
    rec->Flags.fetch_and(static_cast<uint8_t>(~afDone));
    TAsyncThread& w = TAsyncThread::Reserve(st, rec);
    return {rec, &w, rec->Device};
}

// The total time-out of a transfer of Count bytes under the device's time-outs, as the system
// counts it; a read told to return what is queued gets none at all.
void SetLimit(SAsyncRecord& r, ISerialDevice& device, uint32_t Count)
{
    SCommTimeouts t;
    if (!device.GetTimeouts(t)) t = SCommTimeouts{};
    const uint32_t multiplier = r.Write ? t.WriteTotalTimeoutMultiplier : t.ReadTotalTimeoutMultiplier;
    const uint32_t constant = r.Write ? t.WriteTotalTimeoutConstant : t.ReadTotalTimeoutConstant;
    if (!r.Write && t.ReadIntervalTimeout == 0xFFFFFFFFu && multiplier == 0 && constant == 0) {
        r.Limit = 0;
        return;
    }
    r.Unlimited = multiplier == 0 && constant == 0;
    const uint64_t limit = uint64_t{multiplier} * Count + constant;
    r.Limit = static_cast<uint32_t>(std::min<uint64_t>(limit, 0xFFFFFFFFu));
}

// Tries the transfer on the spot, then lets the worker finish it. The worker counts as running
// since BeginTransfer, so the device stays open while it is used here.
uint32_t Launch(const SStart& s, uint8_t* Data, uint32_t Count)
{
    SAsyncRecord& r = *s.rec;
    r.Data = Data;
    r.Wanted = Count;
    r.Start = r.Clock->TickCount();
    if (s.device) SetLimit(r, *s.device, Count);
    if (!s.device || (!Data && Count > 0)) {
        r.Refused = true;
    } else if (Count > 0) {
        const int64_t n = r.Write ? s.device->Write(Data, Count) : s.device->Read(Data, Count);
        if (n < 0) r.Refused = true;
        else r.Moved = static_cast<uint32_t>(std::min<int64_t>(n, Count));
    }
    // A read with no time to wait is over already, with whatever it found.
    const bool over = r.Moved == Count || (!r.Write && !r.Unlimited && r.Limit == 0);
    const uint32_t atOnce = !r.Refused && over ? r.Moved : 0;
    s.worker->Start();
    return atOnce;
}

// Undoes BeginTransfer when the preparations between it and Launch fail.
template <class Fn>
uint32_t Prepared(const SStart& s, Fn&& prepare)
{
    try {
        prepare();
    } catch (...) {
        s.worker->Abandon();
        throw;
    }
    return Launch(s, s.rec->Data, s.rec->Wanted);
}

}  // namespace

SAsyncState& AsyncState()
{
    static SAsyncState* const st = new SAsyncState;
    return *st;
}

void ReleaseRecordLocked(SAsyncState& st, SAsyncRecord& rec)
{
    const auto it = st.records.find(rec.Handle);
    if (it == st.records.end() || it->second.get() != &rec) return;
    rec.Check = 0;
    st.records.erase(it);
}

void ShowApplicationTitle(Loop* loop, const char* Title)
{
    if (!g_hasTitleHook) return;
    auto show = [Title] {
        TTitleHook hook;
        {
            std::lock_guard<std::mutex> lk(g_titleMu);
            hook = g_titleHook;
        }
        if (hook) hook(Title);
    };
    if (loop) loop->Post(show);
    else show();
}

void SetApplicationTitleHook(TTitleHook Hook)
{
    std::lock_guard<std::mutex> lk(g_titleMu);
    g_hasTitleHook = static_cast<bool>(Hook);
    g_titleHook = std::move(Hook);
}

bool IsHandleValid(HASYNC H) { return Find(H) != nullptr; }

bool IsAsyncDone(HASYNC H)
{
    const std::shared_ptr<SAsyncRecord> rec = Find(H);
    return !rec || (rec->Flags & afDone) != 0;
}

HASYNC InternalInitAsync(ISerialDevice* D, TAsyncProc P, bool R, const void* Owner, ISerialPlatform* Clock)
{
    auto rec = std::make_shared<SAsyncRecord>();
    rec->Device = D;
    rec->Clock = Clock ? Clock : &DefaultSerialPlatform();
    rec->Owner = Owner ? Owner : D;
    rec->Proc = std::move(P);
    rec->Flags = static_cast<uint8_t>(afDone | (R ? afReleaseWhenDone : 0));
    rec->CallLoop = Loop::CurrentOrNull();
    SAsyncState& st = AsyncState();
    std::lock_guard<std::mutex> lk(st.mu);
    HASYNC h = st.lastHandle;
    do {
        ++h;
    } while (h == 0 || st.records.count(h) != 0);
    st.lastHandle = h;
    rec->Handle = h;
    rec->Check = ~h;
    st.records.emplace(h, std::move(rec));
    return h;
}

bool InternalCloseAsync(HASYNC H)
{
    SAsyncState& st = AsyncState();
    std::lock_guard<std::mutex> lk(st.mu);
    const std::shared_ptr<SAsyncRecord> rec = FindLocked(st, H);
    if (!rec) InvalidHandle();
    if (!(rec->Flags & afDone)) return false;
    ReleaseRecordLocked(st, *rec);
    return true;
}

uint32_t InternalReadAsync(HASYNC H, void* Buffer, uint32_t Count)
{
    const SStart s = BeginTransfer(H, Buffer, false);
    return Launch(s, static_cast<uint8_t*>(Buffer), Count);
}

uint32_t InternalReadStringAsync(HASYNC H, std::string& S)
{
    const SStart s = BeginTransfer(H, &S, false);
    return Prepared(s, [&] {
        uint32_t queued = 0;
        uint32_t errors = 0;
        SCommStat stat;
        if (s.device && s.device->ClearError(errors, stat)) queued = stat.InQue;
        S.assign(queued, '\0');
        s.rec->Data = reinterpret_cast<uint8_t*>(S.data());
        s.rec->Wanted = queued;
        s.rec->Flags.fetch_or(afStringRead);
    });
}

uint32_t InternalWriteAsync(HASYNC H, const void* Buffer, uint32_t Count)
{
    const SStart s = BeginTransfer(H, nullptr, true);
    // Written from, never into.
    return Launch(s, static_cast<uint8_t*>(const_cast<void*>(Buffer)), Count);
}

uint32_t InternalWriteStringAsync(HASYNC H, const std::string& S)
{
    const SStart s = BeginTransfer(H, nullptr, true);
    return Prepared(s, [&] {
        s.rec->Owned = S;
        s.rec->Data = reinterpret_cast<uint8_t*>(s.rec->Owned.data());
        s.rec->Wanted = static_cast<uint32_t>(s.rec->Owned.size());
    });
}

bool InternalWaitAsync(HASYNC H, const TWaitProc& WaitProc)
{
    const std::shared_ptr<SAsyncRecord> rec = Find(H);
    if (!rec) InvalidHandle();
    SAsyncRecord& r = *rec;
    // While the bit is off the worker leaves the record alone, so it is released exactly once:
    // here, or by the worker when the wait ends early.
    const bool release = (r.Flags.fetch_and(static_cast<uint8_t>(~afReleaseWhenDone)) & afReleaseWhenDone) != 0;
    auto releaseHere = [&] {
        SAsyncState& st = AsyncState();
        std::lock_guard<std::mutex> lk(st.mu);
        ReleaseRecordLocked(st, r);
    };
    // Hands the record back to the worker; true when it has completed already and will not look.
    auto giveBack = [&] {
        return release && (r.Flags.fetch_or(afReleaseWhenDone) & afDone) != 0;
    };

    Loop* loop = r.CallLoop && r.CallLoop->IsLoopThread() ? r.CallLoop : nullptr;
    ++r.Waiters;
    struct Leave {
        std::atomic<int>& n;
        ~Leave() { --n; }
    } leave{r.Waiters};
    try {
        while (!(r.Flags & afDone)) {
            if (loop) {
                loop->ProcessOne(kPumpStepMs);
            } else {
                std::unique_lock<std::mutex> lk(r.WaitMu);
                r.WaitCv.wait_for(lk, std::chrono::milliseconds(kPumpStepMs), [&] { return (r.Flags & afDone) != 0; });
            }
            if (WaitProc && WaitProc()) {
                if (giveBack()) {
                    releaseHere();
                    return true;
                }
                return (r.Flags & afDone) != 0;
            }
        }
    } catch (...) {
        if (giveBack()) releaseHere();
        throw;
    }
    if (release) releaseHere();
    return true;
}

void EndAsyncTransfers(const void* Owner, bool Forget) { TAsyncThread::EndTransfers(Owner, Forget); }

size_t AsyncRecordCount()
{
    SAsyncState& st = AsyncState();
    std::lock_guard<std::mutex> lk(st.mu);
    return st.records.size();
}

size_t AsyncThreadCount()
{
    SAsyncState& st = AsyncState();
    std::lock_guard<std::mutex> lk(st.mu);
    return st.workers.size();
}

}  // namespace rv
