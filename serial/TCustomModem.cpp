// The modem layer over the serial port.
#include "TCustomModem.h"

namespace rv {

TCustomModem::TCustomModem(TComponent* Owner, ISerialPlatform* Platform) : TCustomComm(Owner, Platform) {}

TCustomModem::~TCustomModem() = default;

bool TCustomModem::OpenDevice() { return TCustomComm::OpenDevice(); }

void TCustomModem::CloseDevice() { TCustomComm::CloseDevice(); }

bool TCustomModem::GetLocked() { return TCustomComm::GetLocked(); }

void TCustomModem::HandleEvents(TDeviceEvents Events) { TCustomComm::HandleEvents(Events); }

void TCustomModem::ReceiveData(uint32_t Count) { TCustomComm::ReceiveData(Count); }

}  // namespace rv
