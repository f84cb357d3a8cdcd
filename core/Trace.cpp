// Names of the trace kinds, for printing.
#include "Trace.h"

namespace rv {

const char* TraceKindName(TraceKind kind)
{
    switch (kind) {
    case TraceKind::WakeUp: return "wake-up";
    case TraceKind::Send: return "send";
    case TraceKind::Echo: return "echo";
    case TraceKind::Answer: return "answer";
    case TraceKind::Dropped: return "dropped";
    case TraceKind::FalseCRC: return "bad-checksum";
    case TraceKind::TimeOut: return "time-out";
    case TraceKind::Repetition: return "repetition";
    case TraceKind::Discarded: return "discarded";
    case TraceKind::TransmitError: return "transmit-error";
    }
    return "?";
}

}  // namespace rv
