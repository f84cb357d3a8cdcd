// One of the simulated meter's memories (flash, RAM, the F149 flash): a bounded byte image with
// little-endian and code page 1251 accessors at addresses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rv::sim {

class MemoryArea {
public:
    MemoryArea(std::string name, size_t size, uint8_t fill = 0);

    const std::string& Name() const { return name_; }
    size_t Size() const { return bytes_.size(); }
    // True when the n bytes from addr lie inside the image (n = 0 counts when addr is at most Size()).
    bool Contains(uint64_t addr, size_t n) const { return addr <= bytes_.size() && n <= bytes_.size() - addr; }

    // The accessors below throw std::out_of_range, naming the area and the address, for anything
    // outside the image; callers that serve the line test Contains first.
    void Read(uint64_t addr, void* out, size_t n) const;
    void Write(uint64_t addr, const void* data, size_t n);
    void Write(uint64_t addr, std::span<const uint8_t> data) { Write(addr, data.data(), data.size()); }
    void Fill(uint64_t addr, size_t n, uint8_t value);
    std::span<const uint8_t> View(uint64_t addr, size_t n) const;

    uint8_t U8(uint64_t addr) const;
    uint16_t U16(uint64_t addr) const;
    uint32_t U32(uint64_t addr) const;
    float F32(uint64_t addr) const;
    void PutU8(uint64_t addr, uint8_t v);
    void PutU16(uint64_t addr, uint16_t v);
    void PutU32(uint64_t addr, uint32_t v);
    void PutF32(uint64_t addr, float v);

    // A zero-terminated code page 1251 text of at most maxLen bytes, as UTF-8.
    std::string Text(uint64_t addr, size_t maxLen) const;
    // Stores UTF-8 text as code page 1251 in a field of fieldLen bytes: the text, a 0, zeros to the end.
    // Throws std::length_error when the text and its 0 do not fit.
    void PutText(uint64_t addr, size_t fieldLen, std::string_view utf8);

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    bool operator==(const MemoryArea& other) const { return bytes_ == other.bytes_; }

private:
    void Check(uint64_t addr, size_t n) const;

    std::string name_;
    std::vector<uint8_t> bytes_;
};

}  // namespace rv::sim
