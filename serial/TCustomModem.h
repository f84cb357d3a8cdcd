// The serial port with control of a Hayes modem on it: modem lines, modem state, AT commands and
// their replies, command and data mode, calls and S-registers. TXModem is its published form.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "ModemTypes.h"
#include "TCustomComm.h"
#include "TModemSettings.h"

namespace rv {

// Threads: the commands, waits and mode changes are called on the loop thread. Replies are
// parsed where device events are handled (the loop thread, or the event thread when Synchronize
// is false); the state, the flags and the reply record are safe to share between the two.
class TCustomModem : public TCustomComm {
public:
    explicit TCustomModem(TComponent* Owner = nullptr, ISerialPlatform* Platform = nullptr);
    // An open port is hung up first when a call is up, then closed.
    ~TCustomModem() override;

    // The port's opening with the modem state back to idle.
    bool OpenDevice() override;
    // Ends a call first (waiting a bounded time for the modem's replies), then closes the port;
    // the port is closed even when ending the call fails, and that failure is raised afterwards.
    void CloseDevice() override;
    // In command state the command lock (user reads and writes are refused), else the port's rule.
    bool GetLocked() override;
    // Carrier and ring changes first, then the port's own handling.
    void HandleEvents(TDeviceEvents Events) override;
    // While a command awaits its reply the input is taken as that reply; otherwise OnData.
    void ReceiveData(uint32_t Count) override;

    TModemSettings& GetModemSettings() { return settings_; }
    const TModemSettings& GetModemSettings() const { return settings_; }
    // Copies the values of another TModemSettings into the modem's own object.
    void SetModemSettings(const TPersistent& Value) { settings_.Assign(Value); }

    // ---- Lines and state; each raises SCommClosed on a closed port. A device without modem
    // lines (a pseudo-terminal) reports none, so its modem is never installed.
    TLineStatus GetLineStatus();
    bool GetInstalled();              // DSR on
    bool GetConnected();              // carrier on
    TModemState GetModemState();      // the stored state and msInstalled; empty while DSR is off
    std::string GetEnterCmd() const;  // the escape sequence: three escape characters

    // ---- Commands. Each raises SCommClosed on a closed port; sending without command state
    // raises SNoCommandState (the escape sequence while connected excepted).
    // Probes the modem (ATQ0, then the escape character '+') and puts it into command state.
    void IsModemInstalled();
    // Sends one command line, unguarded; false when not sent (DSR off, rate below 300).
    bool InitCommand(const std::string& Cmd);
    // Sends an AT line, "A/" or (connected) the escape sequence; false while a reply is awaited
    // and for lines that write an S-register.
    bool SendCommand(const std::string& Cmd);
    // Loop thread: waits for the reply of the command sent, keeping the loop running; Timeout in
    // ms, 0 for none. ResultCode -1 when no reply came, the port closed, DSR dropped or the
    // application is ending.
    void WaitForAT(uint32_t Timeout, THayesAT& AT);
    bool SetRegisterValue(uint8_t Reg, uint8_t Value);
    bool GetRegisterValue(uint8_t Reg, uint8_t& Value);
    bool EnterCommandState();
    bool ExitCommandState();
    // Dials, answers or waits for a call as ModemSettings says; with Wait, true once connected.
    bool Connect(bool Wait);
    // Ends a wait for a call, a dial in progress or a call (the modem is hung up with ATH).
    void Disconnect();
    void LowerDTR();
    bool ResetModem();
    bool InitModem();

    THayesATEvent OnHayesAT;    // a reply came that no WaitForAT took
    TNotifyEvent OnConnect;     // the carrier came up
    TNotifyEvent OnDisconnect;  // the carrier dropped, or the call was hung up
    TNotifyEvent OnRing;
    TNotifyEvent OnDisconnecting;
    TNotifyEvent OnChangeCmdState;
    // Raised for a dial or answer command before its reply can be taken; the handler must not
    // wait for that reply.
    TConnectingEvent OnConnecting;

protected:
    virtual void DoConnect();
    virtual void DoDisconnect();
    virtual void DoConnecting(TConnectType Type);
    virtual void DoDisconnecting();
    virtual void DoChangeCmdState();
    // A complete reply; AT is this call's own copy.
    virtual void HandleAT(THayesAT AT);

private:
    struct Shared;
    class WaitScope;

    static constexpr uint8_t Bit(TModemStateFlag f) { return static_cast<uint8_t>(1u << f); }
    bool Stored(TModemStateFlag f) const { return (state_.load() & Bit(f)) != 0; }
    void Include(TModemStateFlag f) { state_.fetch_or(Bit(f)); }
    void Exclude(TModemStateFlag f) { state_.fetch_and(static_cast<uint8_t>(~Bit(f))); }
    // What GetModemState reports for f (stored, and DSR on).
    bool Reported(TModemStateFlag f) { return Stored(f) && GetInstalled(); }
    bool EscapeAwaited();
    std::string LastCommand() const;
    void CarrierChanged(TLineStatus Lines);
    // Hands a complete reply to HandleAT; a WaitForAT counts it as on its way meanwhile.
    void DeliverReply(THayesAT AT);
    // Sends CR and ESC, which stop a dial in progress, and awaits the modem's result again.
    void SendDialAbort();
    // Keeps the loop running while the modem waits for a call.
    void WaitForCall();
    // WaitForAT without a limit of its own (bounded while the port is being closed).
    void WaitReply(THayesAT& AT);
    // One step of a wait: a pump step of the loop on the loop thread; elsewhere a sleep until
    // woken (Seen: the wake count before the caller looked at what it waits for) or Ms passed.
    void WaitStep(uint32_t Ms, uint64_t Seen);
    uint64_t Wakes() const;
    // Wakes a wait on another thread after a reply or a line change.
    void WakeWaiter();
    bool Terminating() const;

    TModemSettings settings_;
    std::atomic<uint8_t> state_{0};  // TModemState bits; msInstalled is never stored
    std::atomic<uint8_t> escapeChar_{0};
    std::atomic<bool> commandLock_{false};
    std::atomic<bool> internal_{false};  // a register operation's own command: no Q1 rewriting, no OnHayesAT
    std::atomic<bool> wasInCommand_{false};
    std::atomic<uint32_t> noLimitBound_{0};  // bound of the unlimited waits while closing, else 0
    std::unique_ptr<Shared> sh_;
};

}  // namespace rv
