// The published serial port: TCustomComm as forms place it. It adds no behaviour.
#pragma once

#include "TCustomComm.h"

namespace rv {

class TXComm : public TCustomComm {
public:
    using TCustomComm::TCustomComm;
};

}  // namespace rv
