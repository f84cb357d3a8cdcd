// The Linux serial platform: opens terminal devices exclusively, keeps monotonic ticks, reports
// errno and its text, and lists the serial ports present.
#pragma once

#include "ISerialPlatform.h"

namespace rv {

class PosixSerialPlatform : public ISerialPlatform {
public:
    // Opens read-write, non-blocking, without becoming the controlling terminal; refuses a device
    // another descriptor holds (EBUSY) and anything but a terminal or a printer port LPTn (ENOTTY:
    // /dev/null, a file, a folder). Low latency is requested from USB adapters, best effort.
    std::unique_ptr<ISerialDevice> Open(const std::string& name) override;
    uint32_t TickCount() override;
    int LastError() override;
    std::string ErrorText(int error) override;
    std::vector<std::string> ListPorts() override;
};

// The device path of a port name: a name beginning with '/' is a path, COMn is /dev/ttyS(n-1),
// LPTn is /dev/lp(n-1) (both ignoring case), any other name is /dev/NAME.
std::string PosixDevicePath(const std::string& name);

// Serial ports present: the stable /dev/serial/by-id links first (they keep their names when an
// adapter is plugged in again), then the terminals with a device behind them that no link names.
std::vector<std::string> ListSerialPorts();

}  // namespace rv
