// Taking the payload of an answer into a record of the component: never past what arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rv::meter_detail {

// The bytes of an answer of length bytes from offset on (none when the answer is shorter).
inline size_t Available(int length, size_t offset)
{
    return length > 0 && static_cast<size_t>(length) > offset ? static_cast<size_t>(length) - offset : 0;
}

// Copies up to size bytes of the answer from offset into dst. The decoders are handed only answers
// of the length they asked for; should a shorter one ever reach them, it fills what it brought and
// the rest of the record is zeroed, so no stale byte passes for a fresh one.
inline void CopyAnswer(void* dst, size_t size, const uint8_t* src, int length, size_t offset = 0)
{
    const size_t n = Available(length, offset) < size ? Available(length, offset) : size;
    if (n) std::memcpy(dst, src + offset, n);
    if (n < size) std::memset(static_cast<uint8_t*>(dst) + n, 0, size - n);
}

// Decodes a record R from the answer's bytes at offset, zero-padded when the answer is short.
template <class R>
R DecodeAnswer(const uint8_t* src, int length, size_t offset = 0)
{
    uint8_t bytes[R::kSize];
    CopyAnswer(bytes, R::kSize, src, length, offset);
    return R::Decode(bytes);
}

// Decodes count records R that lie one after another in the answer; records past its end are zeroed.
template <class R>
void DecodeRecords(R* out, int count, const uint8_t* src, int length)
{
    for (int i = 0; i < count; ++i) out[i] = DecodeAnswer<R>(src, length, static_cast<size_t>(i) * R::kSize);
}

// The same for whole records only: a record the answer brought part of is zeroed like one it did not bring.
template <class R>
void DecodeWholeRecords(R* out, int count, const uint8_t* src, int length)
{
    DecodeRecords(out, count, src, length / static_cast<int>(R::kSize) * static_cast<int>(R::kSize));
}

}  // namespace rv::meter_detail
