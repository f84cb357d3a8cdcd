// The modem's guarded commands: S-registers, command and data mode, calls, hanging up, reset and
// initialisation.
#include <string>

#include "CommErrors.h"
#include "HayesAT.h"
#include "TCustomModem.h"

namespace rv {

namespace {

// A register operation's own command goes without Q1 rewriting or OnHayesAT; the flag is set for
// the operation and never outlives it, even when its command could not be sent.
class InternalCommand {
public:
    explicit InternalCommand(std::atomic<bool>& flag) : flag_(flag) { flag_ = true; }
    ~InternalCommand() { flag_ = false; }
    InternalCommand(const InternalCommand&) = delete;
    InternalCommand& operator=(const InternalCommand&) = delete;

private:
    std::atomic<bool>& flag_;
};

bool IsDecimal(const std::string& s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

bool TCustomModem::SendCommand(const std::string& Cmd)
{
    RequireOpen();
    const bool escape = Cmd == GetEnterCmd() && GetConnected();
    if (!Reported(msCommandState) && !escape) XCommError(SNoCommandState, ecNoCommandState);
    if (Reported(msATSent)) return false;
    if (ATWritesRegister(Cmd)) return false;
    if (ATBeginsWith(Cmd, "AT") || ATIsRepeat(Cmd) || escape) return InitCommand(Cmd);
    return false;
}

// ---- Registers

bool TCustomModem::SetRegisterValue(uint8_t Reg, uint8_t Value)
{
    RequireOpen();
    if (!Reported(msCommandState)) XCommError(SNoCommandState, ecNoCommandState);
    // The escape character is '+' or none; CR and LF stay the line ends the replies are parsed by.
    if (Reg == 2 && Value != 0) Value = '+';
    else if (Reg == 3) Value = '\r';
    else if (Reg == 4) Value = '\n';
    InternalCommand internal(internal_);
    bool ok = false;
    if (Reported(msCommandState) && !Reported(msATSent)) {
        char value[4];
        value[0] = static_cast<char>('0' + Value / 100);
        value[1] = static_cast<char>('0' + Value / 10 % 10);
        value[2] = static_cast<char>('0' + Value % 10);
        value[3] = '\0';
        if (InitCommand("ATS" + std::to_string(Reg) + "=" + value)) {
            THayesAT at;
            WaitReply(at);
            ok = at.ResultCode == 0;
        }
    }
    if (!ok) return false;
    if (Reg == 0 && !GetConnected()) {
        // Register 0 is the number of rings before the modem answers: waiting for a call or not.
        if (Value > 0 && !Reported(msWaitingCall)) {
            DoConnecting(ctWait);
        } else if (Value == 0 && Reported(msWaitingCall)) {
            DoDisconnecting();
            Exclude(msDisconnecting);
        }
    }
    if (Reg == 2) escapeChar_ = Value;
    return true;
}

bool TCustomModem::GetRegisterValue(uint8_t Reg, uint8_t& Value)
{
    RequireOpen();
    if (!Reported(msCommandState)) XCommError(SNoCommandState, ecNoCommandState);
    InternalCommand internal(internal_);
    if (Reported(msATSent) || !InitCommand("ATS" + std::to_string(Reg) + "?")) return false;
    THayesAT at;
    WaitReply(at);
    if (at.ResultCode != 0 || at.Response.size() > 3 || !IsDecimal(at.Response)) return false;
    Value = static_cast<uint8_t>(std::stoi(at.Response) & 0xFF);
    return true;
}

// ---- Modes

bool TCustomModem::EnterCommandState()
{
    RequireOpen();
    commandLock_ = false;
    bool done = false;
    if (GetConnected() && !Reported(msCommandState) && escapeChar_ != 0) {
        // No guard time is kept around the escape sequence.
        if (InitCommand(GetEnterCmd())) {
            THayesAT at;
            WaitReply(at);
            done = at.ResultCode == 0;
        }
    }
    if (!done && !GetConnected() && !Reported(msCommandState)) {
        IsModemInstalled();
        if (Reported(msCommandState)) DoChangeCmdState();
    }
    const bool result = Reported(msCommandState);
    commandLock_ = result;
    return result;
}

bool TCustomModem::ExitCommandState()
{
    RequireOpen();
    bool result = false;
    const bool connected = GetConnected();
    if (!connected && Reported(msCommandState)) {
        Exclude(msCommandState);
        DoChangeCmdState();
        result = true;
    } else if (connected && Reported(msCommandState) && SendCommand("ATO")) {
        THayesAT at;
        WaitReply(at);
        result = at.ResultCode == 1;
    }
    commandLock_ = !result;
    return result;
}

// ---- Calls

bool TCustomModem::Connect(bool Wait)
{
    const TModemSettings& s = settings_;
    std::string cmd;
    switch (s.GetConnectType()) {
        case ctDial:
            cmd = std::string("ATD") + (s.GetDialType() == dtPulse ? "P" : "T") + " " + s.GetDialNumber();
            break;
        case ctDirect: cmd = "ATA"; break;
        case ctWait: {
            if (s.GetWaitRings() == 0 || !SetRegisterValue(0, s.GetWaitRings()) || !Wait) return false;
            WaitForCall();
            return GetOpened() && GetConnected();
        }
    }
    if (!SendCommand(cmd) || !Wait) return false;
    THayesAT at;
    WaitReply(at);
    return at.ResultCode == 1;
}

void TCustomModem::Disconnect()
{
    RequireOpen();
    if (Reported(msWaitingCall)) {
        SetRegisterValue(0, 0);
        return;
    }
    if (Reported(msConnecting)) {
        // Any character stops a dial; the modem then answers with its result.
        DoDisconnecting();
        SendDialAbort();
        THayesAT at;
        WaitReply(at);
        Exclude(msDisconnecting);
        return;
    }
    if (GetConnected() && escapeChar_ != 0) {
        DoDisconnecting();
        // Already in command state (escaped earlier) the call is still up: hang up all the same.
        const bool inCommand = Reported(msCommandState) || EnterCommandState();
        if (inCommand && InitCommand("ATH")) {
            THayesAT at;
            WaitReply(at);
            if (at.ResultCode == 0) {
                if (Stored(msConnected)) DoDisconnect();
                Exclude(msDisconnecting);
            }
        }
    }
}

void TCustomModem::LowerDTR()
{
    if (GetConnected()) DoDisconnecting();
    ToggleBreak(brSet);
    ToggleDTR(brClear);
    ToggleBreak(brClear);
}

bool TCustomModem::ResetModem()
{
    if (!SendCommand(settings_.GetResetString())) return false;
    THayesAT at;
    WaitReply(at);
    return at.ResultCode == 0;
}

bool TCustomModem::InitModem()
{
    THayesAT at;
    if (settings_.GetSpeed() != 0) {
        if (!SendCommand("AT+MS=11,1,300," + std::to_string(settings_.GetSpeed()))) return false;
        WaitReply(at);
        if (at.ResultCode != 0) return false;
    }
    if (!SendCommand(settings_.GetInitString())) return false;
    WaitReply(at);
    return at.ResultCode == 0;
}

}  // namespace rv
