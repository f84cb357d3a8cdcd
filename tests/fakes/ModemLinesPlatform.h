// A serial platform that puts modem lines on the devices of another: every call goes to the
// wrapped device except the modem-status query, which reports the lines the test sets. Lets the
// modem layer run over a pseudo-terminal or the scripted platform as if a modem held DSR on.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "serial/ISerialPlatform.h"

namespace rv::test {

class ModemLinesPlatform : public ISerialPlatform {
public:
    explicit ModemLinesPlatform(ISerialPlatform& base, uint32_t lines = msDsrOn | msCtsOn);

    // ms* bits; any thread. Events for the change are the wrapped platform's business.
    void SetLines(uint32_t lines) { lines_ = lines; }
    uint32_t Lines() const { return lines_; }
    void SetLine(uint32_t bit, bool on);
    // The status query fails (a device without modem lines) while this is false.
    void SetHasLines(bool has) { hasLines_ = has; }

    std::unique_ptr<ISerialDevice> Open(const std::string& name) override;
    uint32_t TickCount() override { return base_.TickCount(); }
    int LastError() override { return base_.LastError(); }
    std::string ErrorText(int error) override { return base_.ErrorText(error); }
    std::vector<std::string> ListPorts() override { return base_.ListPorts(); }

private:
    ISerialPlatform& base_;
    std::atomic<uint32_t> lines_;
    std::atomic<bool> hasLines_{true};
};

}  // namespace rv::test
