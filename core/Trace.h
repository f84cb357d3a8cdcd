// Line trace: what the engine and the link report about every exchange, with a loop timestamp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace rv {

enum class TraceKind {
    WakeUp,      // the wake-up byte 0x00 was sent
    Send,        // a request frame was handed to the link
    Echo,        // the echo of the request was taken
    Answer,      // an answer (head and body, identity, acknowledge, module counter) was taken
    Dropped,     // a packet failed its address test and was dropped whole
    FalseCRC,    // an answer failed its checksum
    TimeOut,     // the answer timer expired
    Repetition,  // a request is repeated; value = the retry counter
    Discarded,   // input queued before a new frame was sent was thrown away by the link
    TransmitError,  // the link refused to send a frame (port closed, device gone)
};

const char* TraceKindName(TraceKind kind);

struct TraceRecord {
    uint64_t timeMs = 0;
    TraceKind kind = TraceKind::Send;
    const uint8_t* data = nullptr;  // valid only during the call
    size_t size = 0;
    int value = 0;
};

using TraceHook = std::function<void(const TraceRecord&)>;

}  // namespace rv
