// The device link's settings, lines, opening and closing, sending with the IrDA adapter set-up,
// and the hand-over of a vanished device to a closed, reported state.
#include "TNewDevCom.h"

#include <cerrno>
#include <cstring>

#include "CommErrors.h"
#include "TXModem.h"
#include "core/Loop.h"
#include "core/TTimer.h"

namespace rv {

namespace {

// Timer interval after each adapter set-up step, in milliseconds.
constexpr uint32_t kIrdaInterval[10] = {10, 10, 100, 1, 100, 10, 10, 10, 1, 1};
constexpr uint8_t kIrdaCommand = 0x10;

const char* const kDeviceLostText = "Порт %s больше не доступен: устройство отключено или неисправно.";
const char* const kHandlerFailedText = "Порт %s закрыт: сбой при обработке принятых данных: ";
const char* const kIrdaFailedText = "Настройка адаптера IrDA не удалась, передача отменена: ";
const char* const kSendFailedText = "Передача отменена: ";
const char* const kNotSerialText = "это не последовательный порт";

// Why an open failed, in the technician's words where the reason is a common one.
std::string OpenFailureReason(int error, const std::string& systemText)
{
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "устройство не найдено";
        case EBUSY:
            return "порт занят другой программой";
        case EACCES:
        case EPERM:
            // Serial ports belong to the dialout group; the package does not add anyone to it.
            return "нет прав доступа к порту. Пользователь должен состоять в группе dialout: "
                   "sudo adduser $USER dialout, затем выйти из системы и войти снова.";
        default:
            return systemText.empty() ? "ошибка " + std::to_string(error) : systemText;
    }
}

}  // namespace

TNewDevCom::TNewDevCom(TComponent* Owner, Loop* loop, ISerialPlatform* Platform)
    : TComponent(Owner),
      loop_(loop ? *loop : Loop::Current()),
      comm_(std::make_unique<TXModem>(nullptr, Platform)),
      timer_(std::make_unique<TTimer>(nullptr, &loop_))
{
    timer_->SetInterval(1);
    timer_->OnTimer = [this](TObject* Sender) { OnTimer(Sender); };
    // Device events are handled on the loop thread, where Transmit and the timers run.
    comm_->SetSynchronize(true);
    comm_->GetDataControl().SetStopBits(sb1);
    comm_->GetDataControl().SetParity(paNone);
    comm_->GetDataControl().SetDataBits(db8);
    comm_->OnConnect = [this](TObject* Sender) { OnModemConnect(Sender); };
    comm_->OnDisconnect = [this](TObject* Sender) { OnModemDisconnect(Sender); };
    comm_->OnDeviceLost = [this](TObject*) { LoseDevice(); };
}

TNewDevCom::~TNewDevCom()
{
    timer_->Stop();
    comm_->OnData = nullptr;
    comm_->OnConnect = nullptr;
    comm_->OnDisconnect = nullptr;
    comm_->OnDeviceLost = nullptr;
    comm_.reset();
}

// ---- Settings

void TNewDevCom::SetCommNet(const std::string& name)
{
    comm_->SetDeviceName(name);
}

std::string TNewDevCom::GetCommNet()
{
    return comm_->GetDeviceName();
}

void TNewDevCom::SetBaudRate(TBaudRate rate)
{
    comm_->SetBaudRate(rate);
}

TBaudRate TNewDevCom::GetBaudRate()
{
    return comm_->GetBaudRate();
}

void TNewDevCom::SetBaudValue(uint32_t value)
{
    comm_->SetBaudValue(value);
}

uint32_t TNewDevCom::GetBaudValue()
{
    return comm_->GetBaudValue();
}

void TNewDevCom::SetIrda(bool value)
{
    irda_ = value;
    if (value) {
        irdaReady_ = false;
        irdaStep_ = 0;
    }
}

// An error escaping a receive handler would end the driver's event thread and leave a port that
// reads open but never delivers again; it is taken as the loss of the device instead, so the
// port is closed and the next transmission fails as it does after an unplugged adapter.
template <class Fn>
void TNewDevCom::Delivering(Fn&& receive)
{
    try {
        receive();
    } catch (const std::exception& e) {
        LoseDevice(e.what());
    } catch (...) {
        LoseDevice("неизвестная ошибка");
    }
}

void TNewDevCom::SetReceiveType(TReceiveType type)
{
    receiveType_ = type;
    switch (type) {
        case rtChar:
            comm_->OnData = [this](TObject* s, uint32_t n) { Delivering([&] { ReceiveChar(s, n); }); };
            break;
        case rtShort:
            comm_->OnData = [this](TObject* s, uint32_t n) { Delivering([&] { ReceiveShort(s, n); }); };
            break;
        case rtLong:
            comm_->OnData = [this](TObject* s, uint32_t n) { Delivering([&] { ReceiveLong(s, n); }); };
            break;
        case rtFloat:
            comm_->OnData = [this](TObject* s, uint32_t n) { Delivering([&] { ReceiveFloat(s, n); }); };
            break;
        case rtPacket:
            if (lengthPacket_ < 1) lengthPacket_ = 1;
            comm_->OnData = [this](TObject* s, uint32_t n) { Delivering([&] { ReceivePacket(s, n); }); };
            break;
        case rtAll:
            comm_->OnData = [this](TObject* s, uint32_t n) { Delivering([&] { ReceiveAll(s, n); }); };
            break;
    }
    UpdateThreshold();
}

void TNewDevCom::SetLengthPacket(int length)
{
    lengthPacket_ = length;
    UpdateThreshold();
}

std::vector<std::string> TNewDevCom::ListPorts(ISerialPlatform* Platform)
{
    return (Platform ? *Platform : DefaultSerialPlatform()).ListPorts();
}

// ---- Lines and port

void TNewDevCom::SetLine(bool dtr, bool value)
{
    bool& flag = dtr ? dtr_ : rts_;
    if (!GetOpen()) {
        flag = false;
        return;
    }
    flag = value;
    try {
        if (dtr)
            comm_->ToggleDTR(value ? brSet : brClear);
        else
            comm_->ToggleRTS(value ? brSet : brClear);
    } catch (const std::exception&) {
        flag = !value;
    }
}

void TNewDevCom::SetDTR(bool value)
{
    SetLine(true, value);
}

void TNewDevCom::SetRTS(bool value)
{
    SetLine(false, value);
}

bool TNewDevCom::GetOpen()
{
    return comm_ && comm_->GetOpened();
}

void TNewDevCom::CloseQuietly()
{
    SetDTR(false);
    SetRTS(false);
    timer_->Stop();
    timerHandler_ = TTimerHandler::Transmit;
    try {
        if (comm_->GetOpened()) comm_->CloseDevice();
    } catch (const std::exception&) {
    }
    // A reopened line sets the adapter up from the first step and cuts from a clean start.
    irdaReady_ = false;
    irdaStep_ = 0;
    irdaFailures_ = 0;
    cutter_.Reset();
}

void TNewDevCom::SetOpen(bool open)
{
    if (!open) {
        CloseQuietly();
        return;
    }
    if (comm_->GetOpened()) return;
    try {
        comm_->OpenDevice();
        openError_.clear();
        deviceLost_ = false;
        deviceLostReason_.clear();
        UpdateThreshold();
    } catch (const std::exception& e) {
        // Why, in the technician's words: the window names the port itself. The driver's own texts of these
        // failures are kept for its callers, not shown.
        std::string reason = e.what();
        const auto* de = dynamic_cast<const EDeviceError*>(&e);
        if (de && de->ErrorCode == ecDOpenError) {
            ISerialPlatform& pl = comm_->GetPlatform();
            const int error = pl.LastError();
            // The platform opens terminals only: anything else is named for what it is not.
            reason = error == ENOTTY ? kNotSerialText : OpenFailureReason(error, pl.ErrorText(error));
        } else if (de && de->ErrorCode == ecInvalidDCB) {
            reason = "порт не принял настройки линии";
        } else if (de && de->ErrorCode == ecInvalidIOSize) {
            reason = "порт не принял размеры буферов";
        }
        // Settings the device refused leave the driver open; the link reports a closed port.
        CloseQuietly();
        openError_ = reason;
    }
}

void TNewDevCom::LoseDevice(const std::string& handlerError)
{
    if (!GetOpen()) return;
    deviceLost_ = true;
    deviceLostReason_ = handlerError.empty() ? FormatMessage(kDeviceLostText, comm_->GetDeviceName())
                                             : FormatMessage(kHandlerFailedText, comm_->GetDeviceName()) + handlerError;
    CloseQuietly();
    OnDeviceLost(this);
}

// ---- Sending

void TNewDevCom::SetPending(const void* data, size_t count)
{
    pendingCount_ = static_cast<unsigned>(std::min(count, sizeof pending_));
    if (pendingCount_ > 0) std::memcpy(pending_, data, pendingCount_);
    transmitError_.clear();
}

void TNewDevCom::Transmit_Packed(const void* data, unsigned char count)
{
    // The bytes are copied: the caller may build its next frame while an adapter set-up runs.
    SetPending(data, data ? count : 0);
    Transmit();
}

void TNewDevCom::Transmit_Byte(unsigned char value)
{
    SetPending(&value, 1);
    Transmit();
}

void TNewDevCom::Transmit_Short(unsigned short value)
{
    const unsigned char b[2] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8)};
    SetPending(b, 2);
    Transmit();
}

void TNewDevCom::Transmit_Long(unsigned int value)
{
    const unsigned char b[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    SetPending(b, 4);
    Transmit();
}

void TNewDevCom::Transmit_Float(float value)
{
    uint32_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    Transmit_Long(bits);
}

void TNewDevCom::Transmit()
{
    // A new transmission restarts the packet count; what arrived before it is no answer to it.
    Discard(true, 0);
    UpdateThreshold();
    timer_->Stop();
    if (!irda_ || irdaReady_) {
        comm_->SendData(pending_, pendingCount_);
        return;
    }
    timerHandler_ = TTimerHandler::IrdaSetup;
    timer_->SetInterval(1);
    timer_->Start();
}

void TNewDevCom::ModemCommand(const std::string& text)
{
    SetReceiveType(rtAll);
    const std::string line = text + '\r';
    comm_->SendData(line.data(), static_cast<uint32_t>(line.size()));
}

void TNewDevCom::OnTimer(TObject*)
{
    if (timerHandler_ == TTimerHandler::IrdaSetup) {
        IrdaSetup();
        return;
    }
    // The end of an adapter set-up: nobody waits on this call to catch the driver's error.
    try {
        Transmit();
    } catch (const std::exception& e) {
        Abandon(kSendFailedText + std::string(e.what()));
    }
}

void TNewDevCom::IrdaSetup()
{
    timer_->Stop();
    try {
        IrdaStep();
        irdaFailures_ = 0;
    } catch (const std::exception& e) {
        // The step stays where it was and is tried again on the next tick, a bounded number of times.
        if (++irdaFailures_ >= kIrdaStepTries) {
            Abandon(kIrdaFailedText + std::string(e.what()));
            return;
        }
    }
    timer_->Start();
}

void TNewDevCom::IrdaStep()
{
    const int step = irdaStep_;
    switch (step) {
        case 0:
            comm_->GetDataControl().SetParity(paNone);
            comm_->GetDataControl().SetStopBits(sb1);
            comm_->SetBaudRate(br9600);
            break;
        case 1:
            SetRTS(false);
            SetDTR(false);
            break;
        case 2:
        case 3:
            SetRTS(true);
            break;
        case 4:
            SetDTR(true);
            break;
        case 5:
            SetDTR(false);
            SetRTS(true);
            break;
        case 6:
            if (!comm_->SendByte(kIrdaCommand)) throw EDeviceError("байт команды адаптера не передан", ecSendError);
            break;
        case 7:
            SetRTS(false);
            SetDTR(true);
            break;
        case 8:
            comm_->SetBaudRate(br115200);
            SetDTR(true);
            break;
        default:
            irdaStep_ = 0;
            timerHandler_ = TTimerHandler::Transmit;
            irdaReady_ = true;
            timer_->SetInterval(kIrdaInterval[9]);
            return;
    }
    irdaStep_ = step + 1;
    timer_->SetInterval(kIrdaInterval[step]);
}

void TNewDevCom::Abandon(const std::string& reason)
{
    timer_->Stop();
    timerHandler_ = TTimerHandler::Transmit;
    irdaStep_ = 0;
    irdaFailures_ = 0;
    pendingCount_ = 0;
    transmitError_ = reason;
    OnTransmitAbandoned(this);
}

}  // namespace rv
