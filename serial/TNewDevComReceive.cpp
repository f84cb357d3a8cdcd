// The device link's receive side: packets of LengthPacket bytes, typed values, raw blocks, and the
// input thrown away when a new transmission starts.
#include <algorithm>
#include <cstring>

#include "CommErrors.h"
#include "TNewDevCom.h"
#include "TXModem.h"
#include "core/Loop.h"

namespace rv {

namespace {

// What ClearBuf takes out of the driver at most.
constexpr size_t kClearBufBytes = 400;
// Input thrown away at one transmission is read in pieces of this size, at most this many; a
// flood beyond that is purged unseen.
constexpr size_t kDiscardPiece = 512;
constexpr int kDiscardPieces = 32;

uint32_t LittleEndian(const unsigned char* p, int size)
{
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

}  // namespace

size_t TNewDevCom::ReadQueued(unsigned char* dst, size_t n)
{
    if (n == 0 || !GetOpen() || comm_->GetLocked()) return 0;
    try {
        return comm_->ReadDataEx(dst, static_cast<uint32_t>(n), 0);
    } catch (const EDeviceError&) {
        LoseDevice();
        return 0;
    }
}

void TNewDevCom::TracePiece(TraceKind kind, const uint8_t* data, size_t size) const
{
    if (!trace_ || !*trace_ || size == 0) return;
    TraceRecord r;
    r.timeMs = loop_.NowMs();
    r.kind = kind;
    r.data = data;
    r.size = size;
    (*trace_)(r);
}

void TNewDevCom::Discard(bool wholeQueue, size_t limit)
{
    TracePiece(TraceKind::Discarded, cutter_.Buffer(), static_cast<size_t>(cutter_.Fill()));
    cutter_.Reset();
    if (!GetOpen() || comm_->GetLocked()) return;
    unsigned char piece[kDiscardPiece];
    size_t left = wholeQueue ? SIZE_MAX : limit;
    for (int i = 0; i < kDiscardPieces && left > 0 && GetOpen(); ++i) {
        uint32_t queued = 0;
        try {
            queued = comm_->GetCount(0);
        } catch (const EDeviceError&) {
            return;
        }
        const size_t want = std::min({left, static_cast<size_t>(queued), sizeof piece});
        if (want == 0) return;
        const size_t got = ReadQueued(piece, want);
        TracePiece(TraceKind::Discarded, piece, got);
        if (got == 0) return;
        left -= got;
    }
    if (wholeQueue && GetOpen()) {
        try {
            comm_->PurgeIn();
        } catch (const EDeviceError&) {
        }
    }
}

void TNewDevCom::ClearBuf()
{
    Discard(false, kClearBufBytes);
    UpdateThreshold();
}

void TNewDevCom::UpdateThreshold()
{
    if (cutting_) return;
    int missing = 1;
    if (receiveType_ == rtPacket) missing = std::clamp(lengthPacket_, 1, PacketCutter::kBufferSize) - cutter_.Fill();
    const auto bytes = static_cast<uint32_t>(std::clamp(missing, 1, 255));
    if (bytes != comm_->GetReceiveThreshold()) comm_->SetReceiveThreshold(bytes);
}

void TNewDevCom::ReceivePacket(TObject*, uint32_t Received)
{
    if (Received == 0) return;
    {
        // The handlers change the length and may transmit: the threshold is set once, for what is
        // missing when the queued bytes have been cut.
        struct Cutting {
            bool& flag;
            const bool was;
            ~Cutting() { flag = was; }
        } cutting{cutting_, cutting_};
        cutting_ = true;
        cutter_.Feed(
            Received, [this] { return lengthPacket_; },
            [this](unsigned char* buf, int len) {
                const TPacketEvent handler = OnReceivePacket;  // the handler may install another
                handler(buf, len);
            },
            [this](unsigned char* dst, size_t n) { return ReadQueued(dst, n); });
    }
    UpdateThreshold();
}

template <class DecodeFn>
void TNewDevCom::ReceiveTyped(uint32_t Received, int size, DecodeFn&& decode)
{
    cutter_.Feed(
        Received, [size] { return size; }, [&](unsigned char* buf, int) { decode(buf); },
        [this](unsigned char* dst, size_t n) { return ReadQueued(dst, n); });
}

void TNewDevCom::ReceiveChar(TObject*, uint32_t Received)
{
    ReceiveTyped(Received, 1, [this](const unsigned char* b) {
        const TReceiveCharEvent handler = OnReceiveChar;
        handler(static_cast<char>(b[0]));
    });
}

void TNewDevCom::ReceiveShort(TObject*, uint32_t Received)
{
    ReceiveTyped(Received, 2, [this](const unsigned char* b) {
        const TReceiveShortEvent handler = OnReceiveShort;
        handler(static_cast<short>(LittleEndian(b, 2)));
    });
}

void TNewDevCom::ReceiveLong(TObject*, uint32_t Received)
{
    ReceiveTyped(Received, 4, [this](const unsigned char* b) {
        const TReceiveLongEvent handler = OnReceiveLong;
        handler(static_cast<int>(LittleEndian(b, 4)));
    });
}

void TNewDevCom::ReceiveFloat(TObject*, uint32_t Received)
{
    ReceiveTyped(Received, 4, [this](const unsigned char* b) {
        const uint32_t bits = LittleEndian(b, 4);
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        const TReceiveFloatEvent handler = OnReceiveFloat;
        handler(value);
    });
}

void TNewDevCom::ReceiveAll(TObject*, uint32_t Received)
{
    // The count handed on is what was read, so the handler never sees bytes of an older delivery.
    uint32_t left = Received;
    while (left > 0 && OnAllReceive && receiveType_ == rtAll) {
        const size_t n = ReadQueued(raw_, std::min<size_t>(left, sizeof raw_ - 1));
        if (n == 0) return;
        left -= static_cast<uint32_t>(n);
        raw_[n] = 0;
        const TAllReceiveEvent handler = OnAllReceive;
        handler(raw_, static_cast<int>(n));
    }
}

}  // namespace rv
