// The modem layer's state, lines and events, and its reply path: sending a command line, taking
// the reply from the input, and waiting for it on the loop thread.
#include "TCustomModem.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <vector>

#include "CommErrors.h"
#include "HayesAT.h"
#include "core/Loop.h"

namespace rv {

namespace {

// ResultCode of the reply record while a WaitForAT waits for it.
constexpr int32_t kWaiting = -2;
// A wait without a limit still looks at DSR, the port and the application this often.
constexpr uint32_t kWaitSliceMs = 100;
// While the port is being closed, a reply the modem owes is awaited this long at most.
constexpr uint32_t kClosingReplyMs = 10000;

}  // namespace

// Shared between the thread that sends commands and waits (the loop thread) and the thread that
// parses replies (where device events are handled). Never held while a handler runs, except
// that the send section may run the port's OnSend/OnCommEvent on the same thread.
struct TCustomModem::Shared {
    // Makes a command's send section (purge, send, msATSent) and a reply's read section (lock
    // lifted, read, assembly) exclusive, so that a reply is never read half as data.
    std::recursive_mutex io;
    std::string pending;  // the unfinished reply (io)

    std::mutex mu;               // the rest
    std::condition_variable cv;  // a reply arrived or the lines changed
    std::string lastCommand;
    THayesAT reply;  // the record WaitForAT waits for; ResultCode kWaiting while it waits
    // A command was sent and no WaitForAT has run for it yet; a reply that comes first is kept
    // for that wait (event handling on another thread can be quicker than the caller).
    bool unwaited = false;
    std::optional<THayesAT> early;
    int inFlight = 0;         // complete replies on their way to HandleAT
    Loop* pumping = nullptr;  // the loop a waiting caller runs
    uint64_t wakes = 0;       // counts the wake-ups of a wait that does not run the loop
};

// Marks the calling thread as waiting (so that other threads wake it) for its lifetime.
class TCustomModem::WaitScope {
public:
    explicit WaitScope(Shared& sh) : sh_(sh)
    {
        Loop* loop = Loop::CurrentOrNull();
        std::lock_guard<std::mutex> lk(sh_.mu);
        previous_ = sh_.pumping;
        if (loop && loop->IsLoopThread()) sh_.pumping = loop;
    }
    ~WaitScope()
    {
        std::lock_guard<std::mutex> lk(sh_.mu);
        sh_.pumping = previous_;
    }
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

private:
    Shared& sh_;
    Loop* previous_ = nullptr;
};

TCustomModem::TCustomModem(TComponent* Owner, ISerialPlatform* Platform)
    : TCustomComm(Owner, Platform), sh_(std::make_unique<Shared>())
{
}

TCustomModem::~TCustomModem()
{
    // Closed here, not by the port's destructor, so that no event reaches this layer after its
    // members are gone.
    if (!GetOpened()) return;
    noLimitBound_ = kClosingReplyMs;
    try {
        if (GetConnected()) Disconnect();
    } catch (...) {
    }
    try {
        TCustomComm::CloseDevice();
    } catch (...) {
    }
}

// ---- Opening and closing

bool TCustomModem::OpenDevice()
{
    if (GetOpened()) return TCustomComm::OpenDevice();  // raises SCommOpened
    // Reset before the event thread starts, so that a carrier already up is not forgotten.
    internal_ = false;
    state_ = 0;
    commandLock_ = false;
    wasInCommand_ = false;
    {
        std::lock_guard<std::recursive_mutex> io(sh_->io);
        sh_->pending.clear();
    }
    {
        std::lock_guard<std::mutex> lk(sh_->mu);
        sh_->reply = THayesAT{};
        sh_->unwaited = false;
        sh_->early.reset();
    }
    return TCustomComm::OpenDevice();
}

void TCustomModem::CloseDevice()
{
    RequireOpen();
    std::exception_ptr error;
    const uint32_t bound = noLimitBound_.exchange(kClosingReplyMs);
    try {
        if (GetConnected()) Disconnect();
        if (Stored(msConnected)) DoDisconnect();
    } catch (...) {
        error = std::current_exception();
    }
    noLimitBound_ = bound;
    if (GetOpened()) TCustomComm::CloseDevice();
    if (error) std::rethrow_exception(error);
}

bool TCustomModem::GetLocked()
{
    if (GetOpened() && Stored(msCommandState) && GetInstalled()) return commandLock_;
    return TCustomComm::GetLocked();
}

// ---- Lines and state

TLineStatus TCustomModem::GetLineStatus()
{
    RequireOpen();
    uint32_t lines = 0;
    if (!Device()->GetModemStatus(lines)) return {};  // no modem lines here
    TLineStatus s;
    if (lines & msCtsOn) s.Include(lsCTS);
    if (lines & msDsrOn) s.Include(lsDSR);
    if (lines & msRingOn) s.Include(lsRing);
    if (lines & msRlsdOn) s.Include(lsCD);
    return s;
}

bool TCustomModem::GetInstalled() { return GetLineStatus().Contains(lsDSR); }

bool TCustomModem::GetConnected() { return GetLineStatus().Contains(lsCD); }

TModemState TCustomModem::GetModemState()
{
    if (!GetInstalled()) return {};
    return TModemState::FromBits(state_.load()).Include(msInstalled);
}

std::string TCustomModem::GetEnterCmd() const { return std::string(3, static_cast<char>(escapeChar_.load())); }

std::string TCustomModem::LastCommand() const
{
    std::lock_guard<std::mutex> lk(sh_->mu);
    return sh_->lastCommand;
}

bool TCustomModem::EscapeAwaited() { return Reported(msATSent) && LastCommand() == GetEnterCmd(); }

bool TCustomModem::Terminating() const
{
    const Loop* loop = Loop::CurrentOrNull();
    return loop && loop->Terminating();
}

// ---- Event raisers

void TCustomModem::DoConnect()
{
    Include(msConnected);
    OnConnect(this);
    state_ = Bit(msConnected);
}

void TCustomModem::DoDisconnect()
{
    Exclude(msConnected);
    OnDisconnect(this);
    Exclude(msDisconnecting);
}

void TCustomModem::DoConnecting(TConnectType Type)
{
    if (Type == ctWait) Include(msWaitingCall);
    if (!Reported(msConnecting)) {
        Include(msConnecting);
        OnConnecting(this, Type);
    }
}

void TCustomModem::DoDisconnecting()
{
    if (Reported(msDisconnecting)) return;
    Exclude(msConnecting);
    Exclude(msWaitingCall);
    Include(msDisconnecting);
    OnDisconnecting(this);
}

void TCustomModem::DoChangeCmdState() { OnChangeCmdState(this); }

// ---- Device events and replies

void TCustomModem::HandleEvents(TDeviceEvents Events)
{
    if (GetOpened()) {
        const bool lines = !(Events & TDeviceEvents{deCTS, deDSR, deRLSD, deRing}).Empty();
        // A carrier change reported together with CTS or DSR is the modem powering up or down.
        if (Events.Contains(deRLSD) && !Events.Contains(deCTS) && !Events.Contains(deDSR))
            CarrierChanged(GetLineStatus());
        if (Events.Contains(deRing) && OnRing && Reported(msCommandState)) OnRing(this);
        if (lines) WakeWaiter();
    }
    TCustomComm::HandleEvents(Events);
}

void TCustomModem::CarrierChanged(TLineStatus Lines)
{
    if (Lines.Contains(lsCD)) {
        const bool installed = Lines.Contains(lsDSR);
        wasInCommand_ = installed && Stored(msCommandState);
        Exclude(msCommandState);
        // The carrier answers a dial or an answer command whose reply is still awaited: the call
        // is up, whatever the modem's text says later (that text now arrives as data).
        bool callReply = false;
        {
            std::lock_guard<std::mutex> lk(sh_->mu);
            callReply = installed && Stored(msATSent) && Stored(msConnecting);
            if (callReply) ++sh_->inFlight;
        }
        struct Landed {
            Shared* sh;
            bool on;
            ~Landed()
            {
                if (!on) return;
                std::lock_guard<std::mutex> lk(sh->mu);
                --sh->inFlight;
            }
        } landed{sh_.get(), callReply};
        DoConnect();
        if (!callReply) return;
        {
            std::lock_guard<std::recursive_mutex> io(sh_->io);
            sh_->pending.clear();
        }
        THayesAT at;
        const std::string last = LastCommand();
        if (!ATIsRepeat(last)) at.Command = last;
        at.ResultText = ATResultTable[1];
        at.ResultCode = 1;
        HandleAT(std::move(at));
    } else if (Stored(msConnected)) {
        if (wasInCommand_) {
            Include(msCommandState);
            if (!Reported(msDisconnecting)) DoDisconnecting();
        }
        DoDisconnect();
    }
}

void TCustomModem::ReceiveData(uint32_t Count)
{
    if (!GetOpened()) {
        TCustomComm::ReceiveData(Count);
        return;
    }
    std::unique_lock<std::recursive_mutex> io(sh_->io);
    if (!Stored(msATSent) || !GetInstalled()) {
        io.unlock();
        TCustomComm::ReceiveData(GetCount(0));
        return;
    }
    std::string piece;
    commandLock_ = false;
    try {
        ReadString(piece);
    } catch (...) {
        commandLock_ = true;
        throw;
    }
    commandLock_ = true;

    const uint32_t charTime = GetRXTimeout(GetBaudValue(), 1);
    THayesAT at;
    if (!ATAssembleReply(sh_->pending, piece, LastCommand(), [&] { return WaitForInput(charTime); }, at)) return;
    {
        std::lock_guard<std::mutex> lk(sh_->mu);
        Exclude(msATSent);
        ++sh_->inFlight;  // a WaitForAT starting now must still wait for it
    }
    io.unlock();
    DeliverReply(std::move(at));
}

void TCustomModem::DeliverReply(THayesAT AT)
{
    struct Landed {
        Shared* sh;
        ~Landed()
        {
            std::lock_guard<std::mutex> lk(sh->mu);
            --sh->inFlight;
        }
    } landed{sh_.get()};
    HandleAT(std::move(AT));
}

void TCustomModem::HandleAT(THayesAT AT)
{
    if (GetConnected()) {
        if (ATCommandPos(AT.Command, "O") > 0 && AT.ResultCode == 1) {
            Exclude(msCommandState);
            DoChangeCmdState();
        } else if (AT.Command == GetEnterCmd() && AT.ResultCode == 0) {
            Include(msCommandState);
            DoChangeCmdState();
        }
    }
    bool waiting = false;
    {
        std::lock_guard<std::mutex> lk(sh_->mu);
        waiting = sh_->reply.ResultCode == kWaiting;
    }
    const bool connecting = Reported(msConnecting);
    const bool notify = connecting || !waiting;
    if (connecting && GetConnected()) AT.ResultCode = 1;
    if (connecting && !Reported(msWaitingCall)) {
        Exclude(msConnecting);
        if (AT.ResultCode != 1) DoDisconnecting();
        Exclude(msDisconnecting);
    }
    {
        std::lock_guard<std::mutex> lk(sh_->mu);
        if (sh_->reply.ResultCode == kWaiting) sh_->reply = AT;
        else if (sh_->unwaited) sh_->early = AT;
    }
    WakeWaiter();
    if (notify && !internal_ && OnHayesAT) OnHayesAT(this, AT);
    internal_ = false;
}

void TCustomModem::WakeWaiter()
{
    Loop* loop = nullptr;
    {
        std::lock_guard<std::mutex> lk(sh_->mu);
        loop = sh_->pumping;
    }
    {
        std::lock_guard<std::mutex> lk(sh_->mu);
        ++sh_->wakes;
    }
    sh_->cv.notify_all();
    // A wait that runs the loop sleeps in it; an empty call wakes it.
    if (loop && !loop->IsLoopThread()) loop->Post([] {});
}

// ---- Sending and waiting

void TCustomModem::IsModemInstalled()
{
    if (!GetInstalled() || GetBaudValue() < 300) return;
    std::lock_guard<std::recursive_mutex> io(sh_->io);
    commandLock_ = false;
    PurgeIn();
    PurgeOut();
    const std::vector<std::string> answers{"OK\r", "\r0\r"};
    const uint32_t timeout = GetRXTimeout(GetBaudValue(), 20) + 4;
    SendString("ATQ0\r");
    if (!WaitForString(answers, timeout)) return;
    escapeChar_ = '+';
    SendString("ATS2=043\r");
    WaitForString(answers, timeout);
    PurgeIn();
    PurgeOut();
    commandLock_ = true;
    state_ = Bit(msCommandState);
}

bool TCustomModem::InitCommand(const std::string& Cmd)
{
    if (GetBaudValue() < 300 || !GetInstalled()) return false;
    const bool internal = internal_;
    std::string line = internal ? Cmd : ATQuietOff(Cmd);
    {
        std::lock_guard<std::mutex> lk(sh_->mu);
        sh_->lastCommand = Cmd;
        if (sh_->reply.ResultCode != kWaiting) sh_->reply.ResultCode = 0;
    }
    const bool appendCR = line != GetEnterCmd() && !ATIsRepeat(line);
    if (appendCR) line += '\r';

    // The reply path waits until the line is classified, so that a quick result (ERROR, BUSY)
    // finds the call set up it ends.
    std::lock_guard<std::recursive_mutex> io(sh_->io);
    // A reply is shorter than any packet a data user may have been waiting for: take every byte.
    SetReceiveThreshold(1);
    PurgeIn();
    PurgeOut();
    sh_->pending.clear();
    commandLock_ = false;
    bool sent = false;
    try {
        sent = SendString(line);
    } catch (...) {
        commandLock_ = true;
        throw;
    }
    commandLock_ = true;
    if (!sent) return false;
    {
        std::lock_guard<std::mutex> lk(sh_->mu);
        Include(msATSent);
        sh_->unwaited = true;
        sh_->early.reset();
    }
    if (!internal) {
        // ';' at the end of a dial string keeps the modem in command mode: no call is set up.
        const size_t end = line.size() - (appendCR ? 1 : 0);
        const bool staysInCommand = end > 0 && line[end - 1] == ';';
        if (ATCommandPos(line, "A") > 0) DoConnecting(ctDirect);
        else if (ATCommandPos(line, "D") > 0 && !staysInCommand) DoConnecting(ctDial);
    }
    return true;
}

void TCustomModem::SendDialAbort()
{
    std::lock_guard<std::recursive_mutex> io(sh_->io);
    Exclude(msATSent);
    // The command lock is on while the dial's reply is awaited; these bytes must still go out.
    const bool lock = commandLock_.exchange(false);
    try {
        SendString("\r\x1b");
    } catch (...) {
        commandLock_ = lock;
        throw;
    }
    commandLock_ = lock;
    std::lock_guard<std::mutex> lk(sh_->mu);
    Include(msATSent);
    sh_->unwaited = true;
    sh_->early.reset();
}

void TCustomModem::WaitForCall()
{
    WaitScope scope(*sh_);
    for (;;) {
        const uint64_t seen = Wakes();
        if (!GetOpened() || Terminating() || !Reported(msWaitingCall)) return;
        WaitStep(kWaitSliceMs, seen);
    }
}

void TCustomModem::WaitForAT(uint32_t Timeout, THayesAT& AT)
{
    std::optional<THayesAT> early;
    {
        std::lock_guard<std::mutex> lk(sh_->mu);
        sh_->reply = THayesAT{};
        sh_->reply.ResultCode = atNoResult;
        if (sh_->unwaited) early = std::move(sh_->early);
        sh_->early.reset();
        sh_->unwaited = false;
        AT = sh_->reply;
    }
    RequireOpen();
    if (!Reported(msCommandState) && !EscapeAwaited()) XCommError(SNoCommandState, ecNoCommandState);
    const bool installed = GetInstalled();
    {
        std::lock_guard<std::mutex> lk(sh_->mu);
        if (!installed || (!Stored(msATSent) && sh_->inFlight == 0)) {
            if (early) AT = std::move(*early);
            return;
        }
        sh_->reply.ResultCode = kWaiting;
    }
    // However the wait ends (a handler run by the loop may raise), the record stops waiting.
    struct Finish {
        Shared& sh;
        THayesAT& at;
        ~Finish()
        {
            std::lock_guard<std::mutex> lk(sh.mu);
            if (sh.reply.ResultCode == kWaiting) sh.reply.ResultCode = atNoResult;
            at = sh.reply;
        }
    } finish{*sh_, AT};
    WaitScope scope(*sh_);

    Loop* loop = Loop::CurrentOrNull();
    const bool pump = loop && loop->IsLoopThread();
    // A wait that runs the loop goes by the loop's clock, so that it is exact in virtual time.
    auto now = [&] { return pump ? loop->TickCount() : TickCount(); };
    const uint32_t start = now();
    for (;;) {
        uint64_t seen = 0;
        {
            std::lock_guard<std::mutex> lk(sh_->mu);
            if (sh_->reply.ResultCode != kWaiting) return;
            seen = sh_->wakes;
        }
        const uint32_t elapsed = now() - start;
        if (Timeout != 0 && elapsed > Timeout) return;
        if (Terminating() || !GetOpened() || !GetInstalled()) return;
        uint32_t slice = kWaitSliceMs;
        if (Timeout != 0) slice = std::min(slice, Timeout + 1 - elapsed);
        WaitStep(slice, seen);
    }
}

uint64_t TCustomModem::Wakes() const
{
    std::lock_guard<std::mutex> lk(sh_->mu);
    return sh_->wakes;
}

void TCustomModem::WaitStep(uint32_t Ms, uint64_t Seen)
{
    Loop* loop = Loop::CurrentOrNull();
    if (loop && loop->IsLoopThread()) {
        loop->ProcessOne(Ms);
        return;
    }
    std::unique_lock<std::mutex> lk(sh_->mu);
    sh_->cv.wait_for(lk, std::chrono::milliseconds(Ms), [&] { return sh_->wakes != Seen; });
}

void TCustomModem::WaitReply(THayesAT& AT) { WaitForAT(noLimitBound_, AT); }

}  // namespace rv
