// The settings objects of a port.
#include "CommSettings.h"

#include <algorithm>
#include <string>

#include "CommErrors.h"
#include "TCustomComm.h"

namespace rv {

void TPersistent::Assign(const TPersistent& Source) { AssignError(Source); }

void TPersistent::AssignError(const TPersistent& Source) const
{
    throw EConvertError(std::string("Cannot assign a ") + Source.ClassName() + " to a " + ClassName());
}

// ---- TCommDataControl

void TCommDataControl::Assign(const TPersistent& Source)
{
    const auto* src = dynamic_cast<const TCommDataControl*>(&Source);
    if (!src) AssignError(Source);
    const TDataBits bits = src->GetDataBits();
    const TParity parity = src->GetParity();
    const TStopBits stop = src->GetStopBits();
    dataBits_ = bits;
    parity_ = parity;
    stopBits_ = stop;
    if (comm_) comm_->Reapply();
}

TDataBits TCommDataControl::GetDataBits() const
{
    SDeviceControlBlock dcb;
    if (comm_ && comm_->ReadDeviceState(dcb) && dcb.ByteSize >= 4 && dcb.ByteSize <= 8)
        return static_cast<TDataBits>(dcb.ByteSize - 4);
    return dataBits_;
}

void TCommDataControl::SetDataBits(TDataBits Value)
{
    dataBits_ = Value;
    if (comm_) comm_->Reapply();
}

TParity TCommDataControl::GetParity() const
{
    SDeviceControlBlock dcb;
    if (comm_ && comm_->ReadDeviceState(dcb) && dcb.Parity <= paSpace) return static_cast<TParity>(dcb.Parity);
    return parity_;
}

void TCommDataControl::SetParity(TParity Value)
{
    parity_ = Value;
    if (comm_) comm_->Reapply();
}

TStopBits TCommDataControl::GetStopBits() const
{
    SDeviceControlBlock dcb;
    if (comm_ && comm_->ReadDeviceState(dcb) && dcb.StopBits <= sb2) return static_cast<TStopBits>(dcb.StopBits);
    return stopBits_;
}

void TCommDataControl::SetStopBits(TStopBits Value)
{
    stopBits_ = Value;
    if (comm_) comm_->Reapply();
}

// ---- TCommBuffers

void TCommBuffers::Assign(const TPersistent& Source)
{
    const auto* src = dynamic_cast<const TCommBuffers*>(&Source);
    if (!src) AssignError(Source);
    const uint16_t in = src->GetInputSize(), out = src->GetOutputSize();
    const uint16_t inTimeout = src->GetInputTimeout(), outTimeout = src->GetOutputTimeout();
    inputSize_ = in;
    outputSize_ = out;
    inputTimeout_ = inTimeout;
    outputTimeout_ = outTimeout;
    if (comm_) comm_->ReapplyBuffers();
}

uint16_t TCommBuffers::GetSize(int Index) const
{
    if (Index != 0 && Index != 1) return 0;
    SCommProp prop;
    if (comm_ && comm_->ReadDeviceProperties(prop))
        return static_cast<uint16_t>(Index == 0 ? prop.CurrentRxQueue : prop.CurrentTxQueue);
    return Index == 0 ? inputSize_ : outputSize_;
}

void TCommBuffers::SetSize(int Index, int Value)
{
    if (Index != 0 && Index != 1) return;
    const auto v = static_cast<uint16_t>(std::clamp(Value, 128, 8192));
    uint16_t& field = Index == 0 ? inputSize_ : outputSize_;
    if (field == v) return;
    field = v;
    if (comm_) comm_->ReapplyBuffers();
}

// ---- TCommEventChars

void TCommEventChars::Assign(const TPersistent& Source)
{
    const auto* src = dynamic_cast<const TCommEventChars*>(&Source);
    if (!src) AssignError(Source);
    uint8_t values[5];
    for (int i = 0; i < 5; ++i) values[i] = src->GetChar(i);
    std::copy(values, values + 5, chars_);
    if (comm_) comm_->Reapply();
}

uint8_t TCommEventChars::GetChar(int Index) const
{
    if (Index < 0 || Index > 4) return 0;
    SDeviceControlBlock dcb;
    if (comm_ && comm_->ReadDeviceState(dcb)) {
        const uint8_t fromDevice[5] = {dcb.XonChar, dcb.XoffChar, dcb.EofChar, dcb.ErrorChar, dcb.EvtChar};
        return fromDevice[Index];
    }
    return chars_[Index];
}

void TCommEventChars::SetChar(int Index, uint8_t Value)
{
    if (Index < 0 || Index > 4) return;
    chars_[Index] = Value;
    if (comm_) comm_->Reapply();
}

}  // namespace rv
