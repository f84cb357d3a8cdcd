// Bounded access to one memory of the simulated meter.
#include "sim/MemoryArea.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "core/Cp1251.h"
#include "protocol/Frame.h"

namespace rv::sim {

MemoryArea::MemoryArea(std::string name, size_t size, uint8_t fill) : name_(std::move(name)), bytes_(size, fill) {}

void MemoryArea::Check(uint64_t addr, size_t n) const
{
    if (Contains(addr, n)) return;
    char msg[160];
    std::snprintf(msg, sizeof msg, "%s: %zu bytes at 0x%llX lie outside the %zu-byte image", name_.c_str(), n,
                  static_cast<unsigned long long>(addr), bytes_.size());
    throw std::out_of_range(msg);
}

void MemoryArea::Read(uint64_t addr, void* out, size_t n) const
{
    Check(addr, n);
    if (n) std::memcpy(out, bytes_.data() + addr, n);
}

void MemoryArea::Write(uint64_t addr, const void* data, size_t n)
{
    Check(addr, n);
    if (n) std::memcpy(bytes_.data() + addr, data, n);
}

void MemoryArea::Fill(uint64_t addr, size_t n, uint8_t value)
{
    Check(addr, n);
    std::memset(bytes_.data() + addr, value, n);
}

std::span<const uint8_t> MemoryArea::View(uint64_t addr, size_t n) const
{
    Check(addr, n);
    return {bytes_.data() + addr, n};
}

uint8_t MemoryArea::U8(uint64_t addr) const { return View(addr, 1)[0]; }
uint16_t MemoryArea::U16(uint64_t addr) const { return GetU16(View(addr, 2).data()); }
uint32_t MemoryArea::U32(uint64_t addr) const { return GetU32(View(addr, 4).data()); }
float MemoryArea::F32(uint64_t addr) const { return std::bit_cast<float>(U32(addr)); }

void MemoryArea::PutU8(uint64_t addr, uint8_t v) { Write(addr, &v, 1); }

void MemoryArea::PutU16(uint64_t addr, uint16_t v)
{
    uint8_t b[2];
    rv::PutU16(b, v);
    Write(addr, b, 2);
}

void MemoryArea::PutU32(uint64_t addr, uint32_t v)
{
    uint8_t b[4];
    rv::PutU32(b, v);
    Write(addr, b, 4);
}

void MemoryArea::PutF32(uint64_t addr, float v) { PutU32(addr, std::bit_cast<uint32_t>(v)); }

std::string MemoryArea::Text(uint64_t addr, size_t maxLen) const
{
    // A field that runs past the end of the image is read up to the end.
    Check(addr, 0);
    const size_t n = std::min(maxLen, bytes_.size() - static_cast<size_t>(addr));
    return FromCp1251(bytes_.data() + addr, n);
}

void MemoryArea::PutText(uint64_t addr, size_t fieldLen, std::string_view utf8)
{
    const std::string bytes = ToCp1251(utf8);
    if (bytes.size() + 1 > fieldLen) {
        throw std::length_error("text \"" + std::string(utf8) + "\" takes " + std::to_string(bytes.size()) +
                                " bytes; its field holds " + std::to_string(fieldLen ? fieldLen - 1 : 0) +
                                " bytes and a terminating zero");
    }
    Check(addr, fieldLen);
    std::memcpy(bytes_.data() + addr, bytes.data(), bytes.size());
    std::memset(bytes_.data() + addr + bytes.size(), 0, fieldLen - bytes.size());
}

}  // namespace rv::sim
