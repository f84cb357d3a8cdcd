// Cuts a received byte stream into packets whose length the receiver may change between packets.
// Shared by the serial device link and the in-memory test line.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rv {

class PacketCutter {
public:
    static constexpr int kBufferSize = 1000;

    // A new transmission restarts the packet count: whatever was half received is discarded.
    void Reset()
    {
        fill_ = 0;
        ++generation_;
    }
    int Fill() const { return fill_; }
    unsigned char* Buffer() { return buf_; }

    // received bytes are waiting at the source; read(dst, n) takes up to n of them and returns how
    // many it took. length() is asked afresh before every packet, so a deliver(buf, len) handler
    // that changes it governs the bytes still waiting. A length below 1 counts as 1, one above the
    // buffer as the buffer size. Bytes that complete no packet stay in the buffer for the next call.
    template <class LengthFn, class DeliverFn, class ReadFn>
    void Feed(size_t received, LengthFn&& length, DeliverFn&& deliver, ReadFn&& read)
    {
        for (;;) {
            const int len = std::clamp(static_cast<int>(length()), 1, kBufferSize);
            if (fill_ >= len) {
                // The length shrank below what is already held: the held bytes make the packet,
                // the surplus starts the next one.
                Emit(deliver, len);
                continue;
            }
            if (received == 0) return;
            const size_t want = std::min(static_cast<size_t>(len - fill_), received);
            const size_t got = std::min(read(buf_ + fill_, want), want);
            received -= want;
            fill_ += static_cast<int>(got);
            if (got < want) return;  // the source had fewer bytes than it counted
            if (fill_ == len) Emit(deliver, len);
        }
    }

private:
    template <class D>
    void Emit(D& deliver, int len)
    {
        const int surplus = fill_ - len;
        const unsigned generation = generation_;
        fill_ = 0;
        deliver(buf_, len);
        // The handler may have reset the cutter (a new transmission); then nothing is carried over.
        if (surplus > 0 && generation == generation_) {
            std::memmove(buf_, buf_ + len, static_cast<size_t>(surplus));
            fill_ = surplus;
        }
    }

    unsigned char buf_[kBufferSize + 1] = {};
    int fill_ = 0;
    unsigned generation_ = 0;
};

}  // namespace rv
