// Service command handlers: the parameters of each command are checked against its length, and
// memory is touched only inside the image.
#include "sim/ServiceCommands.h"

#include "core/Cp1251.h"
#include "protocol/Frame.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace rv::sim {

namespace {

constexpr size_t kCtrSumBlock = 0x1000;

// Read: address (2 or 4 bytes), count (1 byte).
Answer Read(const MemoryArea& area, const Request& r, size_t addrBytes)
{
    if (r.paramCount != addrBytes + 1) return Answer::Silent();
    const uint64_t addr = addrBytes == 2 ? GetU16(r.params) : GetU32(r.params);
    const size_t n = r.params[addrBytes];
    if (n > kMaxAnswerPayload) return Answer::Silent();
    return Answer::Framed(ReadPadded(area, addr, n));
}

// Write of data at an address; the whole block lands or nothing does.
Answer Write(MemoryArea& area, uint64_t addr, const uint8_t* data, size_t n)
{
    if (!area.Contains(addr, n)) return Answer::Ack(kAckRefused);
    area.Write(addr, data, n);
    return Answer::Ack(kAckOk);
}

// Write: address (2 or 4 bytes), count (1 byte), data (count bytes).
Answer WriteAt(MemoryArea& area, const Request& r, size_t addrBytes)
{
    if (r.paramCount < addrBytes + 1) return Answer::Silent();
    const uint64_t addr = addrBytes == 2 ? GetU16(r.params) : GetU32(r.params);
    const size_t n = r.params[addrBytes];
    if (r.paramCount != addrBytes + 1 + n) return Answer::Silent();
    return Write(area, addr, r.params + addrBytes + 1, n);
}

}  // namespace

std::vector<uint8_t> ReadPadded(const MemoryArea& area, uint64_t addr, size_t n)
{
    std::vector<uint8_t> out(n, 0xFF);
    if (addr < area.Size()) {
        const size_t inside = std::min<uint64_t>(n, area.Size() - addr);
        area.Read(addr, out.data(), inside);
    }
    return out;
}

void InstallServiceCommands(SimMeter& meter)
{
    meter.SetCommandHandler(cmd::kIdentity, [](SimMeter& m, const Request& r) {
        if (r.paramCount != 0) return Answer::Silent();
        const auto& id = m.Image().identity;
        return Answer::Framed({id.begin(), id.end()});
    });
    meter.SetCommandHandler(cmd::kReadRam, [](SimMeter& m, const Request& r) { return Read(m.Image().ram, r, 2); });
    meter.SetCommandHandler(cmd::kReadFlash,
                            [](SimMeter& m, const Request& r) { return Read(m.Image().flash, r, 2); });
    meter.SetCommandHandler(cmd::kReadFlashLarge,
                            [](SimMeter& m, const Request& r) { return Read(m.Image().flash, r, 4); });
    meter.SetCommandHandler(cmd::kWriteRam,
                            [](SimMeter& m, const Request& r) { return WriteAt(m.Image().ram, r, 2); });
    meter.SetCommandHandler(cmd::kWriteFlash,
                            [](SimMeter& m, const Request& r) { return WriteAt(m.Image().flash, r, 2); });
    meter.SetCommandHandler(cmd::kWriteFlashLarge,
                            [](SimMeter& m, const Request& r) { return WriteAt(m.Image().flash, r, 4); });
    meter.SetCommandHandler(cmd::kPassword, [](SimMeter& m, const Request& r) {
        if (r.paramCount != 4) return Answer::Silent();
        m.Image().password = GetU32(r.params);
        return Answer::Ack(kAckOk);
    });
    meter.SetCommandHandler(cmd::kSetTime, [](SimMeter& m, const Request& r) {
        auto& clock = m.Image().clock;
        if (r.paramCount != clock.size()) return Answer::Silent();
        std::copy(r.params, r.params + clock.size(), clock.begin());
        return Answer::Ack(kAckOk);
    });
    meter.SetCommandHandler(cmd::kKeyPress, [](SimMeter& m, const Request& r) {
        if (r.paramCount != 1) return Answer::Silent();
        m.Image().lastKey = r.params[0];
        ++m.Image().keyPresses;
        return Answer::Ack(kAckOk);
    });
    meter.SetCommandHandler(cmd::kDisplay, [](SimMeter& m, const Request& r) {
        if (r.paramCount != 0) return Answer::Silent();
        std::string text = ToCp1251(m.Image().display);
        if (text.size() > kMaxAnswerPayload) text.resize(kMaxAnswerPayload);
        return Answer::Framed({text.begin(), text.end()});
    });
    meter.SetCommandHandler(cmd::kClearF149, [](SimMeter& m, const Request& r) {
        if (r.paramCount != 0) return Answer::Silent();
        m.Image().f149.Fill(0, m.Image().f149.Size(), 0xFF);
        return Answer::Ack(kAckOk);
    });
    // The F149 write puts the count before the address.
    meter.SetCommandHandler(cmd::kWriteF149, [](SimMeter& m, const Request& r) {
        if (r.paramCount < 3) return Answer::Silent();
        const size_t n = r.params[0];
        if (r.paramCount != 3 + n) return Answer::Silent();
        return Write(m.Image().f149, GetU16(r.params + 1), r.params + 3, n);
    });
    // The control sum of 4 KiB flash block number value: the 16-bit sum of its bytes (0 beyond the image).
    meter.SetCommandHandler(cmd::kCtrSum, [](SimMeter& m, const Request& r) {
        if (r.paramCount != 2) return Answer::Silent();
        const uint64_t from = uint64_t{GetU16(r.params)} * kCtrSumBlock;
        uint16_t sum = 0;
        const MemoryArea& flash = m.Image().flash;
        if (flash.Contains(from, kCtrSumBlock))
            for (uint8_t b : flash.View(from, kCtrSumBlock)) sum = static_cast<uint16_t>(sum + b);
        return Answer::Framed({static_cast<uint8_t>(sum), static_cast<uint8_t>(sum >> 8)});
    });
    // Six bytes: master, 1, the module count, the meter's address, a checksum over the first four.
    meter.SetCommandHandler(cmd::kModuleCounter, [](SimMeter& m, const Request& r) {
        if (r.paramCount != 0) return Answer::Silent();
        std::vector<uint8_t> out(kModuleCounterAnswerSize);
        const auto count = static_cast<uint8_t>(m.Image().moduleCount);
        BuildAnswer(out.data(), r.master, &count, 1, m.Image().slaveAddress);
        return Answer::Raw(std::move(out), true);
    });
}

}  // namespace rv::sim
