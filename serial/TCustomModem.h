// The serial port with control of a Hayes modem on it: modem lines, modem state, AT commands and
// their replies, command and data mode, calls and S-registers. TXModem is its published form.
#pragma once

#include "TCustomComm.h"

namespace rv {

class TCustomModem : public TCustomComm {
public:
    explicit TCustomModem(TComponent* Owner = nullptr, ISerialPlatform* Platform = nullptr);
    ~TCustomModem() override;

    bool OpenDevice() override;
    void CloseDevice() override;
    bool GetLocked() override;
    void HandleEvents(TDeviceEvents Events) override;
    void ReceiveData(uint32_t Count) override;

    // The carrier came up / dropped.
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
};

}  // namespace rv
