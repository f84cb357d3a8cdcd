// The port's settings, the control block and its flag word, opening and closing, queues,
// status and the control lines.
#include "TCustomComm.h"

#include <algorithm>
#include <cctype>

#include "CommErrors.h"
#include "TCommEventThread.h"
#include "core/Loop.h"

namespace rv {

namespace {

// Option bits that say nothing about the handshake, masked off when the preset is read back.
constexpr uint32_t kOptionBits =
    dcbFParity | dcbFDsrSensitivity | dcbFTXContinueOnXoff | dcbFErrorChar | dcbFNull | dcbFAbortOnError;

// The preset flag words.
constexpr uint32_t kFlagsCTS = dcbFBinary | dcbFOutxCtsFlow | (lineControlToggle << dcbFRtsControlShift);  // 0x3005
constexpr uint32_t kFlagsDTR = dcbFBinary | dcbFOutxDsrFlow | (lineControlToggle << dcbFDtrControlShift);  // 0x0039
constexpr uint32_t kFlagsSoftware = dcbFBinary | dcbFOutX | dcbFInX;                                       // 0x0301

uint32_t FlagWord(TFlowControl flow, TFlowSettings cts, TFlowSettings dtr, TCommOptions options)
{
    uint32_t f = 0;  // fcNone: not even fBinary
    switch (flow) {
        case fcNone: break;
        case fcCTS: f = kFlagsCTS; break;
        case fcDTR: f = kFlagsDTR; break;
        case fcSoftware: f = kFlagsSoftware; break;
        case fcCustom:
            f = dcbFBinary;
            if (cts != fsDisable) f |= dcbFOutxCtsFlow;
            if (dtr != fsDisable) f |= dcbFOutxDsrFlow;
            f |= (static_cast<uint32_t>(cts) & 3u) << dcbFRtsControlShift;
            f |= (static_cast<uint32_t>(dtr) & 3u) << dcbFDtrControlShift;
            break;
    }
    if (options.Contains(coLeaveDTROpen)) f |= 0x0010;  // DTR on, if the DTR field left it off
    if (options.Contains(coParityCheck)) f |= dcbFParity;
    if (options.Contains(coDSRSensitivity)) f |= dcbFDsrSensitivity;
    if (options.Contains(coErrorChar)) f |= dcbFErrorChar;
    if (options.Contains(coDiscardNull)) f |= dcbFNull;
    if (options.Contains(coAbortOnError)) f |= dcbFAbortOnError;
    if (options.Contains(coTXContinueOnXOff)) f |= dcbFTXContinueOnXoff;
    return f;
}

bool IsPrinterName(const std::string& name)
{
    if (name.size() < 3) return false;
    return std::toupper(static_cast<unsigned char>(name[0])) == 'L' &&
           std::toupper(static_cast<unsigned char>(name[1])) == 'P' &&
           std::toupper(static_cast<unsigned char>(name[2])) == 'T';
}

}  // namespace

TCustomComm::TCustomComm(TComponent* Owner, ISerialPlatform* Platform)
    : TComponent(Owner), platform_(Platform ? Platform : &DefaultSerialPlatform())
{
}

TCustomComm::~TCustomComm()
{
    destroying_ = true;
    if (device_) StopEventThread();
    EndAsync(true);
    if (device_) device_.reset();
    retired_.clear();
}

// ---- Settings

TBaudRate TCustomComm::GetBaudRate() const
{
    if (!GetOpened()) return baudRate_;
    return BaudRateOfValue(GetBaudValue());
}

void TCustomComm::SetBaudRate(TBaudRate Value)
{
    if (Value < br110 || Value > brCustom || Value == baudRate_) return;
    baudRate_ = Value;
    if (Value != brCustom) baudValue_ = BaudRateValue(Value);
    Reapply();
}

uint32_t TCustomComm::GetBaudValue() const
{
    SDeviceControlBlock dcb;
    return ReadDeviceState(dcb) ? dcb.BaudRate : baudValue_;
}

void TCustomComm::SetBaudValue(uint32_t Value)
{
    if (baudRate_ != brCustom || Value == baudValue_) return;
    baudValue_ = Value;
    Reapply();
}

TFlowSettings TCustomComm::GetCTSSettings() const
{
    SDeviceControlBlock dcb;
    if (!ReadDeviceState(dcb)) return ctsSettings_;
    return static_cast<TFlowSettings>((dcb.Flags & dcbFRtsControlMask) >> dcbFRtsControlShift);
}

void TCustomComm::SetCTSSettings(TFlowSettings Value)
{
    if (flowControl_ != fcCustom || Value == ctsSettings_) return;
    ctsSettings_ = Value;
    Reapply();
}

TFlowSettings TCustomComm::GetDTRSettings() const
{
    SDeviceControlBlock dcb;
    if (!ReadDeviceState(dcb)) return dtrSettings_;
    return static_cast<TFlowSettings>((dcb.Flags & dcbFDtrControlMask) >> dcbFDtrControlShift);
}

void TCustomComm::SetDTRSettings(TFlowSettings Value)
{
    if (flowControl_ != fcCustom || Value == dtrSettings_) return;
    dtrSettings_ = Value;
    Reapply();
}

void TCustomComm::SetDeviceName(const std::string& Value)
{
    if (!GetOpened() && Value != deviceName_) deviceName_ = Value;
}

TFlowControl TCustomComm::GetFlowControl() const
{
    SDeviceControlBlock dcb;
    if (!ReadDeviceState(dcb)) return flowControl_;
    switch (dcb.Flags & ~kOptionBits) {
        case kFlagsDTR: return fcDTR;
        case kFlagsCTS: return fcCTS;
        case kFlagsSoftware: return fcSoftware;
        case dcbFBinary: return fcNone;
        default: return fcCustom;
    }
}

void TCustomComm::SetFlowControl(TFlowControl Value)
{
    if (Value < fcNone || Value > fcCustom || Value == flowControl_) return;
    flowControl_ = Value;
    switch (Value) {
        case fcNone:
        case fcSoftware: ctsSettings_ = fsDisable; dtrSettings_ = fsDisable; break;
        case fcCTS: ctsSettings_ = fsToggle; dtrSettings_ = fsDisable; break;
        case fcDTR: ctsSettings_ = fsDisable; dtrSettings_ = fsToggle; break;
        case fcCustom: break;
    }
    Reapply();
}

TCommOptions TCustomComm::GetCommOptions() const
{
    SDeviceControlBlock dcb;
    if (!ReadDeviceState(dcb)) return options_;
    TCommOptions o;
    if (dcb.Flags & 0x0010) o.Include(coLeaveDTROpen);
    if (dcb.Flags & dcbFParity) o.Include(coParityCheck);
    if (dcb.Flags & dcbFDsrSensitivity) o.Include(coDSRSensitivity);
    if (dcb.Flags & dcbFErrorChar) o.Include(coErrorChar);
    if (dcb.Flags & dcbFNull) o.Include(coDiscardNull);
    if (dcb.Flags & dcbFAbortOnError) o.Include(coAbortOnError);
    if (dcb.Flags & dcbFTXContinueOnXoff) o.Include(coTXContinueOnXOff);
    return o;
}

void TCustomComm::SetCommOptions(TCommOptions Value)
{
    if (Value == options_) return;
    options_ = Value;
    Reapply();
}

void TCustomComm::Reapply()
{
    if (GetOpened() && !updating_) UpdateDCB();
}

void TCustomComm::ReapplyBuffers()
{
    if (GetOpened() && !updating_) UpdateBuffers();
}

bool TCustomComm::ReadDeviceState(SDeviceControlBlock& dcb) const { return device_ && device_->GetState(dcb); }

bool TCustomComm::ReadDeviceProperties(SCommProp& prop) const { return device_ && device_->GetProperties(prop); }

// ---- The device

void TCustomComm::RequireOpen() const
{
    if (!GetOpened()) XCommError(SCommClosed, ecCommClosed);
}

void TCustomComm::RaiseSystemError(const char* Msg, int Code) const
{
    const int e = platform_->LastError();
    XCommWin32Error(Msg, Code, e, platform_->ErrorText(e));
}

bool TCustomComm::OpenDevice()
{
    if (GetOpened()) XCommError(SCommOpened, ecCommOpened);
    ReapRetired();
    updating_ = false;
    std::unique_ptr<ISerialDevice> device = platform_->Open(deviceName_);
    if (!device) XCommError(FormatMessage(SDOpenError, deviceName_), ecDOpenError);
    device_ = std::move(device);
    if (threshold_ > 1) device_->SetReceiveThreshold(threshold_);
    stringWait_ = false;
    callbackLock_ = false;
    deviceLost_ = false;
    SetEventError({});
    loop_ = Loop::CurrentOrNull();
    eventThread_ = std::make_unique<TCommEventThread>(this, loop_);

    const bool printer = IsPrinterName(deviceName_);
    if (!printer) {
        UpdateDCB();
        UpdateBuffers();
    }
    // Reads return at once with what is queued; writes get a second per byte plus 1.5 s.
    SCommTimeouts t;
    t.ReadIntervalTimeout = 0xFFFFFFFFu;
    t.WriteTotalTimeoutMultiplier = printer ? 0 : 1000;
    t.WriteTotalTimeoutConstant = printer ? 1 : 1500;
    device_->SetTimeouts(t);
    stringWait_ = false;
    callbackLock_ = false;
    return true;
}

void TCustomComm::CloseDevice()
{
    RequireOpen();
    StopEventThread();
    EndAsync(false);
    device_.reset();
    takenOut_ = 0;
    sent_ = 0;
}

void TCustomComm::StopEventThread()
{
    if (eventThread_ && !eventThread_->Stop()) retired_.push_back(std::move(eventThread_));
    eventThread_.reset();
    ReapRetired();
}

void TCustomComm::ReapRetired()
{
    for (auto it = retired_.begin(); it != retired_.end();) {
        if ((*it)->InsideOwnDispatch()) ++it;
        else it = retired_.erase(it);
    }
}

bool TCustomComm::UpdateDCB()
{
    RequireOpen();
    SDeviceControlBlock dcb;
    dcb.DCBlength = 28;
    dcb.BaudRate = baudValue_;
    dcb.XonLim = dcb.XoffLim = static_cast<uint16_t>(buffers_.inputSize_ / 4);
    dcb.ByteSize = static_cast<uint8_t>(dataControl_.dataBits_ + 4);
    dcb.Parity = static_cast<uint8_t>(dataControl_.parity_);
    dcb.StopBits = static_cast<uint8_t>(dataControl_.stopBits_);
    dcb.XonChar = eventChars_.chars_[0];
    dcb.XoffChar = eventChars_.chars_[1];
    dcb.EofChar = eventChars_.chars_[2];
    dcb.ErrorChar = eventChars_.chars_[3];
    dcb.EvtChar = eventChars_.chars_[4];
    dcb.Flags = FlagWord(flowControl_, ctsSettings_, dtrSettings_, options_);
    if (!device_->SetState(dcb)) XCommError(SInvalidDCB, ecInvalidDCB);
    return true;
}

bool TCustomComm::UpdateBuffers()
{
    RequireOpen();
    // What the purge discards counts as taken out, like the bytes PurgeIn discards.
    const uint32_t queued = GetCount(0);
    if (device_->Purge(purgeTxAbort | purgeRxAbort | purgeTxClear | purgeRxClear)) takenOut_ += queued;
    if (!device_->SetupQueues(buffers_.inputSize_, buffers_.outputSize_)) XCommError(SInvalidIOSize, ecInvalidIOSize);
    return true;
}

void TCustomComm::SetReceiveThreshold(uint32_t Bytes)
{
    const uint32_t value = std::clamp<uint32_t>(Bytes, 1, 255);
    if (value == threshold_) return;
    threshold_ = value;
    // Best effort: a threshold the device did not take only costs more events.
    if (device_) device_->SetReceiveThreshold(value);
}

void TCustomComm::BeginUpdate()
{
    RequireOpen();
    updating_ = true;
}

bool TCustomComm::EndUpdate()
{
    RequireOpen();
    if (!updating_) return false;
    updating_ = false;
    return UpdateDCB() && UpdateBuffers();
}

bool TCustomComm::PurgeIn()
{
    RequireOpen();
    takenOut_ += GetCount(0);
    return device_->Purge(purgeRxAbort | purgeRxClear);
}

bool TCustomComm::PurgeOut()
{
    RequireOpen();
    return device_->Purge(purgeTxAbort | purgeTxClear);
}

uint32_t TCustomComm::GetCount(int Queue)
{
    RequireOpen();
    uint32_t errors = 0;
    SCommStat stat;
    if (!device_->ClearError(errors, stat)) return 0;
    return Queue == 0 ? stat.InQue : Queue == 1 ? stat.OutQue : 0;
}

uint32_t TCustomComm::GetTotalReceived()
{
    if (!GetOpened()) return 0;
    return GetCount(0) + takenOut_;
}

TCommStatus TCustomComm::GetCommStatus()
{
    RequireOpen();
    uint32_t errors = 0;
    SCommStat stat;
    if (!device_->ClearError(errors, stat)) return {};
    return TCommStatus::FromBits(static_cast<uint8_t>(stat.Flags & 0xFF));
}

TBaudRate TCustomComm::GetMaxBaud()
{
    RequireOpen();
    SCommProp prop;
    device_->GetProperties(prop);
    switch (prop.MaxBaud) {
        case baud300: return br300;
        case baud600: return br600;
        case baud1200:
        case baud1800: return br1200;
        case baud2400: return br2400;
        case baud4800:
        case baud7200: return br4800;
        case baud9600: return br9600;
        case baud14400: return br14400;
        case baud19200: return br19200;
        case baud38400: return br38400;
        case baud56k: return br56000;
        case baud128k: return br128000;
        case baud115200: return br115200;
        case baud57600: return br57600;
        case baudUser: return brCustom;
        default: return br110;
    }
}

void TCustomComm::ToggleBreak(TBreakStatus Value)
{
    RequireOpen();
    device_->Escape(Value == brSet ? escSetBreak : escClrBreak);
}

void TCustomComm::ToggleDTR(TBreakStatus Value)
{
    RequireOpen();
    device_->Escape(Value == brSet ? escSetDtr : escClrDtr);
}

void TCustomComm::ToggleRTS(TBreakStatus Value)
{
    RequireOpen();
    device_->Escape(Value == brSet ? escSetRts : escClrRts);
}

void TCustomComm::ToggleXonXoff(TBreakStatus Value)
{
    RequireOpen();
    device_->Escape(Value == brSet ? escSetXon : escSetXoff);
}

std::string TCustomComm::GetEventError() const
{
    std::lock_guard<std::mutex> lk(errorMu_);
    return eventError_;
}

void TCustomComm::SetEventError(const std::string& Text)
{
    std::lock_guard<std::mutex> lk(errorMu_);
    eventError_ = Text;
}

}  // namespace rv
