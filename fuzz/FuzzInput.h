// What the fuzz targets share: reading every byte a handler is given, so that a pointer or length that reaches
// past what arrived is found by the sanitizers, and taking the fuzzer's input a piece at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rv::fuzzing {

// Where the reads go, so that they are not optimised away.
inline volatile unsigned g_sink;

inline void Touch(const void* p, size_t n)
{
    const auto* b = static_cast<const uint8_t*>(p);
    unsigned s = 0;
    for (size_t i = 0; i < n; ++i) s += b[i];
    g_sink = s;
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    // The next byte; 0 past the end of the input.
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // The next four bytes, little-endian.
    uint32_t U32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t{Byte()} << (8 * i);
        return v;
    }
    // Up to n further bytes: fewer at the end of the input.
    std::vector<uint8_t> Take(size_t n)
    {
        const size_t k = n < size_ - at_ ? n : size_ - at_;
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + k);
        at_ += k;
        return out;
    }
    // n further bytes, zeros past the end of the input.
    void Take(uint8_t* out, size_t n)
    {
        for (size_t i = 0; i < n; ++i) out[i] = Byte();
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace rv::fuzzing
