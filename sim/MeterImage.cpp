// Identity fields and pointer-table helpers of the simulated meter.
#include "sim/MeterImage.h"

#include <cstdio>
#include <stdexcept>

#include "protocol/Frame.h"

namespace rv::sim {

std::string HexAddress(uint64_t address)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(address));
    return buf;
}

MeterImage::MeterImage()
    : flash("flash", layout::kFlashSize), ram("RAM", layout::kRamSize), f149("F149 flash", layout::kF149Size, 0xFF)
{
}

uint16_t MeterImage::DeviceCode() const { return GetU16(identity.data()); }
uint16_t MeterImage::SoftwareVersion() const { return GetU16(identity.data() + 2); }
uint32_t MeterImage::SerialNumber() const { return GetU32(identity.data() + 8); }
uint16_t MeterImage::Status() const { return GetU16(identity.data() + 12); }
void MeterImage::SetDeviceCode(uint16_t v) { PutU16(identity.data(), v); }
void MeterImage::SetSoftwareVersion(uint16_t v) { PutU16(identity.data() + 2, v); }
void MeterImage::SetDeviceValue(uint32_t v) { PutU32(identity.data() + 4, v); }
void MeterImage::SetSerialNumber(uint32_t v) { PutU32(identity.data() + 8, v); }
void MeterImage::SetStatus(uint16_t v) { PutU16(identity.data() + 12, v); }

uint16_t MeterImage::RamPointer(int k) const
{
    if (k < 0 || k >= layout::kPointerCount) throw std::out_of_range("RAM pointer word " + std::to_string(k));
    return flash.U16(layout::kPointerTable + 2 * static_cast<uint32_t>(k));
}

void MeterImage::SetRamPointer(int k, uint16_t address)
{
    if (k < 0 || k >= layout::kPointerCount) throw std::out_of_range("RAM pointer word " + std::to_string(k));
    flash.PutU16(layout::kPointerTable + 2 * static_cast<uint32_t>(k), address);
}

bool MeterImage::EmulatorMode() const
{
    return ram.U8(RamPointer(layout::ram::kFlagsWord) + layout::ram::kEmulatorModeByte) != 0;
}

void MeterImage::SetEmulatorMode(bool on)
{
    ram.PutU8(RamPointer(layout::ram::kFlagsWord) + layout::ram::kEmulatorModeByte, on ? 1 : 0);
}

bool MeterImage::CorrectionMode() const { return (Status() & kStatusCorrectionMode) != 0; }

void MeterImage::SetCorrectionMode(bool on)
{
    SetStatus(static_cast<uint16_t>(on ? Status() | kStatusCorrectionMode : Status() & ~kStatusCorrectionMode));
}

uint32_t MeterImage::RecordSizeAt(uint64_t addr, uint32_t width) const
{
    for (const ArchiveRing& ring : archiveRings)
        if (ring.Contains(addr)) return ring.recordSize;
    return width;
}

}  // namespace rv::sim
