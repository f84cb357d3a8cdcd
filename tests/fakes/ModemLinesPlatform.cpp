// Devices of another platform with modem lines the test sets.
#include "ModemLinesPlatform.h"

namespace rv::test {

namespace {

class LinesDevice : public ISerialDevice {
public:
    LinesDevice(std::unique_ptr<ISerialDevice> device, const std::atomic<uint32_t>& lines,
                const std::atomic<bool>& hasLines)
        : d_(std::move(device)), lines_(lines), hasLines_(hasLines)
    {
    }

    bool GetState(SDeviceControlBlock& dcb) override { return d_->GetState(dcb); }
    bool SetState(const SDeviceControlBlock& dcb) override { return d_->SetState(dcb); }
    bool SetupQueues(uint32_t inSize, uint32_t outSize) override { return d_->SetupQueues(inSize, outSize); }
    bool SetTimeouts(const SCommTimeouts& timeouts) override { return d_->SetTimeouts(timeouts); }
    bool GetTimeouts(SCommTimeouts& timeouts) override { return d_->GetTimeouts(timeouts); }
    bool Purge(uint32_t flags) override { return d_->Purge(flags); }
    bool ClearError(uint32_t& errors, SCommStat& stat) override { return d_->ClearError(errors, stat); }
    bool GetProperties(SCommProp& prop) override { return d_->GetProperties(prop); }
    bool Escape(uint32_t function) override { return d_->Escape(function); }
    bool GetModemStatus(uint32_t& status) override
    {
        if (!hasLines_) return d_->GetModemStatus(status);
        status = lines_;
        return true;
    }
    int64_t Read(void* buffer, uint32_t count) override { return d_->Read(buffer, count); }
    int64_t Write(const void* buffer, uint32_t count) override { return d_->Write(buffer, count); }
    TWaitResult WaitReadable(uint32_t ms) override { return d_->WaitReadable(ms); }
    TWaitResult WaitWritable(uint32_t ms) override { return d_->WaitWritable(ms); }
    TWaitResult Pause(uint32_t ms) override { return d_->Pause(ms); }
    bool SetEventMask(uint32_t mask) override { return d_->SetEventMask(mask); }
    TWaitResult WaitEvent(uint32_t& events) override { return d_->WaitEvent(events); }
    void Cancel() override { d_->Cancel(); }
    bool SetReceiveThreshold(uint32_t bytes) override { return d_->SetReceiveThreshold(bytes); }

private:
    std::unique_ptr<ISerialDevice> d_;
    const std::atomic<uint32_t>& lines_;
    const std::atomic<bool>& hasLines_;
};

}  // namespace

ModemLinesPlatform::ModemLinesPlatform(ISerialPlatform& base, uint32_t lines) : base_(base), lines_(lines) {}

void ModemLinesPlatform::SetLine(uint32_t bit, bool on)
{
    if (on) lines_.fetch_or(bit);
    else lines_.fetch_and(~bit);
}

std::unique_ptr<ISerialDevice> ModemLinesPlatform::Open(const std::string& name)
{
    auto device = base_.Open(name);
    if (!device) return nullptr;
    return std::make_unique<LinesDevice>(std::move(device), lines_, hasLines_);
}

}  // namespace rv::test
