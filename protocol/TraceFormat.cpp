// Text form of a trace record.
#include "TraceFormat.h"

#include <cinttypes>
#include <cstdio>

namespace rv {

std::string FormatTraceRecord(const TraceRecord& record)
{
    char head[64];
    std::snprintf(head, sizeof head, "%5" PRIu64 ".%03u %-14s", record.timeMs / 1000,
                  static_cast<unsigned>(record.timeMs % 1000), TraceKindName(record.kind));
    std::string line = head;
    if (record.kind == TraceKind::Repetition) {
        line += " #" + std::to_string(record.value);
        return line;
    }
    static const char kHex[] = "0123456789ABCDEF";
    line.reserve(line.size() + record.size * 3);
    for (size_t i = 0; record.data && i < record.size; ++i) {
        line += ' ';
        line += kHex[record.data[i] >> 4];
        line += kHex[record.data[i] & 0x0F];
    }
    return line;
}

}  // namespace rv
