// The transaction engine: properties, the send / answer / wake-up timers, the decoders, trace and
// statistics. The service requests are in TRurIvaQsService.cpp.
#include "TRurIvaQs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "protocol/Frame.h"

namespace rv {

namespace {
constexpr uint32_t kWakeUpIntervalMs = 3000;
constexpr uint32_t kWakeUpPauseMs = 100;
constexpr int kHeadLength = 2;
}  // namespace

SIDDevice SIDDevice::Decode(const uint8_t* bytes)
{
    SIDDevice d;
    std::memcpy(d.Raw, bytes, kSize);
    d.Value0 = GetU16(bytes + 0);
    d.Version = GetU16(bytes + 2);
    d.Value4 = GetU32(bytes + 4);
    d.SerialNumber = GetU32(bytes + 8);
    d.Value12 = GetU16(bytes + 12);
    return d;
}

TRurIvaQs::TRurIvaQs(TComponent* owner, Loop* loop)
    : TComponent(owner),
      loop_(loop ? *loop : Loop::Current()),
      answerTimer_(std::make_unique<TTimer>(nullptr, &loop_)),
      sendTimer_(std::make_unique<TTimer>(nullptr, &loop_)),
      wakeUpTimer_(std::make_unique<TTimer>(nullptr, &loop_)),
      pauseTimer_(std::make_unique<TTimer>(nullptr, &loop_))
{
    SetMasterNetAddress(0xF0);
    SetSlaveNetAddress(7);
    answerTimer_->OnTimer = BindMethod<&TRurIvaQs::TOut>(this);
    sendTimer_->SetInterval(1);
    sendTimer_->OnTimer = BindMethod<&TRurIvaQs::TPackage>(this);
    wakeUpTimer_->SetInterval(kWakeUpIntervalMs);
    wakeUpTimer_->OnTimer = BindMethod<&TRurIvaQs::TNullByte>(this);
    wakeUpTimer_->Start();
    wakeUp_ = true;
    pauseTimer_->SetInterval(kWakeUpPauseMs);
    pauseTimer_->OnTimer = BindMethod<&TRurIvaQs::TWakeUpPause>(this);
}

TRurIvaQs::~TRurIvaQs()
{
    answerTimer_.reset();
    wakeUpTimer_.reset();
    sendTimer_.reset();
    pauseTimer_.reset();
    DetachLink();
}

void TRurIvaQs::DetachLink()
{
    if (!link_) return;
    link_->SetOnReceivePacket(nullptr);
    link_->SetTraceHook(nullptr);
    if (installedModemHandlers_) {
        link_->SetOnModemConnect(nullptr);
        link_->SetOnModemDisconnect(nullptr);
        link_->SetOnAllReceive(nullptr);
        installedModemHandlers_ = false;
    }
}

void TRurIvaQs::SetDeviceComm(IDeviceLink* link)
{
    if (link == link_) return;
    DetachLink();
    link_ = link;
    if (link_) link_->SetTraceHook(trace_ ? &trace_ : nullptr);
}

void TRurIvaQs::SetMasterNetAddress(uint8_t address)
{
    if (address == 0 || address == 255) return;
    master_ = address;
}

void TRurIvaQs::SetSlaveNetAddress(uint8_t address)
{
    if (address == 0 || address >= 239) return;
    slave_ = address;
}

void TRurIvaQs::SetTimeOut(int ms)
{
    answerTimer_->SetInterval(static_cast<uint32_t>(std::max(ms, 1)));
}
int TRurIvaQs::GetTimeOut() const
{
    return static_cast<int>(answerTimer_->GetInterval());
}
void TRurIvaQs::SetTimePackage(int ms)
{
    sendTimer_->SetInterval(static_cast<uint32_t>(std::max(ms, 1)));
}
int TRurIvaQs::GetTimePackage() const
{
    return static_cast<int>(sendTimer_->GetInterval());
}

TRurIvaQs::TReceiveExecutedEvent TRurIvaQs::ExchangeOnReceiveExecuted(TReceiveExecutedEvent handler)
{
    TReceiveExecutedEvent old = std::move(OnReceiveExecuted);
    OnReceiveExecuted = std::move(handler);
    return old;
}

void TRurIvaQs::SetTraceHook(TraceHook hook)
{
    trace_ = std::move(hook);
    if (link_) link_->SetTraceHook(trace_ ? &trace_ : nullptr);
}

void TRurIvaQs::TraceOut(TraceKind kind, const void* data, size_t size, int value) const
{
    TraceRecord r;
    r.timeMs = loop_.NowMs();
    r.kind = kind;
    r.data = static_cast<const uint8_t*>(data);
    r.size = size;
    r.value = value;
    trace_(r);
}

IDeviceLink& TRurIvaQs::Link(const char* request) const
{
    if (!link_) throw EProtocolError(std::string(request) + ": не задан канал связи с прибором (DeviceComm).");
    return *link_;
}

// --- Line control

bool TRurIvaQs::Initialization()
{
    if (!link_ || link_->GetOpen()) return false;
    switch (workType_) {
        case wtNet4800:
            link_->SetBaudRate(br4800);
            link_->SetIrda(false);
            break;
        case wtNet115200:
            link_->SetBaudRate(br115200);
            link_->SetIrda(false);
            break;
        case wtIrDA:
            link_->SetBaudRate(br115200);
            link_->SetIrda(true);
            break;
        case wtNet9600:
            link_->SetBaudRate(br9600);
            link_->SetIrda(false);
            break;
        case wtModem:
            link_->SetBaudRate(br4800);
            link_->SetIrda(false);
            // Forwarders rather than copies, so that handlers assigned later still see the events.
            link_->SetOnModemConnect(BindMethod<&TRurIvaQs::ForwardModemConnect>(this));
            link_->SetOnModemDisconnect(BindMethod<&TRurIvaQs::ForwardModemDisconnect>(this));
            link_->SetReceiveType(rtAll);
            link_->SetOnAllReceive(BindMethod<&TRurIvaQs::ForwardModemCommand>(this));
            installedModemHandlers_ = true;
            break;
    }
    return true;
}

void TRurIvaQs::BreakTransmit()
{
    break_ = true;
    sendTimer_->Stop();
    answerTimer_->Stop();
    wakeUpTimer_->Stop();
}

bool TRurIvaQs::ApplyWakeUpRule()
{
    wakeUpTimer_->Stop();
    wakeUpTimer_->Start();
    if (!wakeUp_) return false;
    // The flag is cleared only once the byte went out, so a refused send wakes the device next time.
    link_->Transmit_Byte(kWakeUpByte);
    wakeUp_ = false;
    ++stats_.WakeUps;
    Trace(TraceKind::WakeUp, &kWakeUpByte, 1);
    return true;
}

void TRurIvaQs::ModemCommand(const std::string& text)
{
    Link("ModemCommand");
    if (ApplyWakeUpRule()) loop_.Sleep(kWakeUpPauseMs);
    link_->ModemCommand(text);
}

void TRurIvaQs::Transmitpackage(unsigned char len, const void* frame)
{
    if (len == 0 || !frame) throw EProtocolError("Transmitpackage: нет кадра для передачи.");
    std::memcpy(tx_, frame, len);
    StartRequest(len, 1, &TRurIvaQs::OnlyTransmit);
}

// --- Building requests

uint8_t* TRurIvaQs::BeginRequestTo(uint8_t destination, uint8_t command)
{
    tx_[0] = destination;
    tx_[2] = command;
    return tx_ + 3;
}

void TRurIvaQs::FinishRequest(size_t nparams, TAnswerKind kind)
{
    if (nparams > kMaxRequestParams) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", tx_[2]);
        throw EProtocolError(std::string("Запрос с кодом команды ") + code + ": не более " +
                             std::to_string(kMaxRequestParams) + " байт параметров в одном кадре (передано " +
                             std::to_string(nparams) + ").");
    }
    const size_t L = 1 + nparams;
    tx_[1] = static_cast<uint8_t>(L);
    tx_[L + 2] = master_;
    PutU16(tx_ + L + 3, CRC(tx_, static_cast<unsigned char>(L + 3)));
    switch (kind) {
        case TAnswerKind::Framed:
            StartRequest(L + 5, kHeadLength, &TRurIvaQs::ReceivedData);
            break;
        case TAnswerKind::Acknowledge:
            StartRequest(L + 5, 1, &TRurIvaQs::OnlyTransmit);
            break;
        case TAnswerKind::Identity:
            StartRequest(L + 5, static_cast<int>(kIdentityAnswerSize), &TRurIvaQs::ReceivedIDDevice);
            break;
        case TAnswerKind::ModuleCounter:
            StartRequest(L + 5, static_cast<int>(kModuleCounterAnswerSize), &TRurIvaQs::ReciveMC);
            break;
    }
}

void TRurIvaQs::SendRequest(uint8_t command, const void* params, size_t nparams, TAnswerKind kind)
{
    uint8_t* p = BeginRequest(command);
    if (nparams > 0 && nparams <= kMaxRequestParams) std::memcpy(p, params, nparams);
    FinishRequest(nparams, kind);
}

void TRurIvaQs::StartRequest(size_t frameLength, int answerLength, PacketDecoder decoder)
{
    IDeviceLink& link = Link("Запрос");
    if (frameLength == 0 || frameLength > kMaxFrame || answerLength < 1 || answerLength > 255 || !decoder)
        throw EProtocolError("Запрос: кадр длиной " + std::to_string(frameLength) +
                             " байт не помещается в линию (не более 255 байт).");
    txLength_ = static_cast<uint8_t>(frameLength);
    echoLength_ = txLength_;
    answerLength_ = static_cast<uint8_t>(answerLength);
    decoder_ = decoder;
    link.SetOnReceivePacket(BindMethod<&TRurIvaQs::Dispatch>(this));
    ResetReceive();
    link.SetReceiveType(rtPacket);
    sendTimer_->Start();
}

void TRurIvaQs::ResetReceive()
{
    if (receivingBack_) {
        link_->SetLengthPacket(echoLength_);
        phase_ = 0;
    } else {
        link_->SetLengthPacket(answerLength_);
        phase_ = 1;
    }
}

// --- Timers

void TRurIvaQs::TPackage(TObject*)
{
    break_ = false;
    sendTimer_->Stop();
    // During a wake-up pause the frame goes when the pause ends, as it then stands.
    if (!link_ || pauseTimer_->GetEnabled()) return;
    SendFrame(true);
}

void TRurIvaQs::TWakeUpPause(TObject*)
{
    pauseTimer_->Stop();
    // A request broken off during the pause sends nothing; one made since then goes now.
    if (!link_ || break_) return;
    SendFrame(false);
}

void TRurIvaQs::SendFrame(bool wakeUpFirst)
{
    try {
        // After the wake-up byte the frame waits for the end of the pause on a timer, not in a sleep: the loop
        // thread goes on serving everything else on it (the other meters of a bench) meanwhile.
        if (wakeUpFirst && ApplyWakeUpRule()) {
            pauseTimer_->Start();
            return;
        }
        link_->Transmit_Packed(tx_, txLength_);
        sentAtMs_ = loop_.NowMs();
        ++stats_.Frames;
        Trace(TraceKind::Send, tx_, txLength_);
    } catch (const std::exception& e) {
        // The frame did not go out; the answer timer below turns this into a time-out and a retry.
        ++stats_.TransmitErrors;
        Trace(TraceKind::TransmitError, nullptr, 0);
        OnTransmitError(e);
    }
    answerTimer_->Start();
}

void TRurIvaQs::TOut(TObject*)
{
    ++stats_.TimeOuts;
    Trace(TraceKind::TimeOut, nullptr, 0);
    phase_ = receivingBack_ ? 0 : 1;
    if (!repetition_) {
        answerTimer_->Stop();
        OnTimeOut(this);
        return;
    }
    ++repetitionCounter_;
    answerTimer_->Stop();
    ++stats_.Repetitions;
    Trace(TraceKind::Repetition, nullptr, 0, repetitionCounter_);
    OnRepetition(repetitionCounter_);
    if (link_) ResetReceive();
    if (!break_) sendTimer_->Start();
}

void TRurIvaQs::TNullByte(TObject*)
{
    if (workType_ == wtIrDA) return;
    if (wakeUp_) wakeUpTimer_->Stop();
    wakeUp_ = true;
}

void TRurIvaQs::ScheduleRetry()
{
    ++repetitionCounter_;
    ++stats_.Repetitions;
    Trace(TraceKind::Repetition, nullptr, 0, repetitionCounter_);
    OnRepetition(repetitionCounter_);
    if (!break_) sendTimer_->Start();
}

void TRurIvaQs::ChecksumFailure()
{
    if (link_) ResetReceive();
    answerTimer_->Stop();
    ++stats_.FalseCRC;
    OnFalseCRC(this);
    if (repetition_) ScheduleRetry();
}

void TRurIvaQs::DropPacket(const unsigned char* Data, int Size)
{
    ++stats_.Dropped;
    Trace(TraceKind::Dropped, Data, Size > 0 ? static_cast<size_t>(Size) : 0);
}

void TRurIvaQs::AnswerAccepted(const unsigned char* Data, size_t Size)
{
    ++stats_.Answers;
    const uint64_t now = loop_.NowMs();
    stats_.LastRoundTripMs = static_cast<int64_t>(now - sentAtMs_);
    stats_.LastAnswerMs = static_cast<int64_t>(now);
    Trace(TraceKind::Answer, Data, Size);
}

// --- Decoders
//
// A packet that fails an address test is dropped whole and the phase stays: the bytes are never
// resynchronised inside a packet; the time-out and the retry recover, and the link restarts its
// packet count whenever a frame is sent. A packet shorter than the decoder needs (a link that cut
// it short) is dropped the same way.

void TRurIvaQs::ReceivedData(unsigned char* Data, int Size)
{
    if (!Data || Size < 1) return;
    switch (phase_) {
        case 0:
            if (Data[0] != slave_) return DropPacket(Data, Size);
            Trace(TraceKind::Echo, Data, static_cast<size_t>(Size));
            phase_ = 1;
            if (link_) link_->SetLengthPacket(answerLength_);
            return;
        case 1:
            if (Size < kHeadLength || Data[0] != master_) return DropPacket(Data, Size);
            rx_[0] = Data[0];
            rx_[1] = Data[1];
            bodyLength_ = Data[1] + 3;
            if (link_) link_->SetLengthPacket(bodyLength_);
            phase_ = 2;
            return;
        default: {
            if (Size < bodyLength_) return DropPacket(Data, Size);
            answerTimer_->Stop();
            const int L = rx_[1];
            std::memcpy(rx_ + kHeadLength, Data, static_cast<size_t>(bodyLength_));
            const size_t frame = static_cast<size_t>(L) + 5;
            if (!OnReceiveExecuted) {
                Trace(TraceKind::Answer, rx_, frame);
                return;
            }
            // A length beyond the largest payload cannot come from a sound frame, and its checksum
            // would be summed over a count that no longer fits the byte the sum is counted in.
            const bool ok = static_cast<size_t>(L) <= kMaxAnswerPayload &&
                            CRC(rx_, static_cast<unsigned char>(L + 3)) == GetU16(rx_ + L + 3);
            if (!ok) {
                Trace(TraceKind::FalseCRC, rx_, frame);
                return ChecksumFailure();
            }
            AnswerAccepted(rx_, frame);
            OnReceiveExecuted(static_cast<short>(L), rx_ + kHeadLength);
            return;
        }
    }
}

void TRurIvaQs::ReceivedIDDevice(unsigned char* Data, int Size)
{
    if (!Data || Size < 1) return;
    if (phase_ == 0) {
        Trace(TraceKind::Echo, Data, static_cast<size_t>(Size));
        phase_ = 1;
        if (link_) link_->SetLengthPacket(answerLength_);
        return;
    }
    if (!OnReceivedIDDevice) return;  // no taker: the answer timer runs on
    if (Size < static_cast<int>(kIdentityAnswerSize) || Data[0] != master_) return DropPacket(Data, Size);
    answerTimer_->Stop();
    std::memcpy(rx_, Data, kIdentityAnswerSize);
    if (CheckIdentityAnswer(rx_, kIdentityAnswerSize, master_) != FrameCheck::Ok) {
        Trace(TraceKind::FalseCRC, rx_, kIdentityAnswerSize);
        return ChecksumFailure();
    }
    AnswerAccepted(rx_, kIdentityAnswerSize);
    identity_ = SIDDevice::Decode(rx_ + 2);
    OnReceivedIDDevice(&identity_);
}

void TRurIvaQs::OnlyTransmit(unsigned char* Data, int Size)
{
    if (!Data || Size < 1) return;
    if (phase_ == 0) {
        Trace(TraceKind::Echo, Data, static_cast<size_t>(Size));
        phase_ = 1;
        if (link_) link_->SetLengthPacket(answerLength_);
        return;
    }
    // The phase stays 1: every further byte before the next request is delivered the same way.
    answerTimer_->Stop();
    if (!OnReceiveExecuted) return;
    rx_[0] = Data[0];
    AnswerAccepted(rx_, 1);
    OnReceiveExecuted(1, rx_);
}

void TRurIvaQs::ReciveMC(unsigned char* Data, int Size)
{
    if (!Data || Size < 1) return;
    if (phase_ == 0) {
        Trace(TraceKind::Echo, Data, static_cast<size_t>(Size));
        phase_ = 1;
        if (link_) link_->SetLengthPacket(answerLength_);
        return;
    }
    if (Size < static_cast<int>(kModuleCounterAnswerSize) || Data[0] != master_) return DropPacket(Data, Size);
    answerTimer_->Stop();
    AnswerAccepted(Data, kModuleCounterAnswerSize);
    OnReceiveModuleCounter(static_cast<int>(static_cast<int8_t>(Data[2])));
}

}  // namespace rv
