// The published serial port with modem control: TCustomModem as forms place it. It adds no behaviour.
#pragma once

#include "TCustomModem.h"

namespace rv {

class TXModem : public TCustomModem {
public:
    using TCustomModem::TCustomModem;
};

}  // namespace rv
