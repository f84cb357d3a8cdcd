// Fuzzes the modem's reply parsing: arbitrary bytes arrive in pieces and are assembled into
// replies, and every line goes through the result-code conversions and the command search.
// Input: pieces separated by 0xFF; the first is the last command sent; each later piece starts
// with a byte whose low bit says whether more input follows it at once.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/HayesAT.h"

namespace {

bool KnownCode(int32_t code) { return code == rv::atNoResult || code == rv::atUnknownResult || (code >= 0 && code < rv::ATResultCount); }

void CheckLine(const std::string& line)
{
    if (!KnownCode(rv::ATResultToME(line))) __builtin_trap();
    std::string s = line;
    if (rv::ATShortToLong(s)) {
        bool known = s == "UNKNOWN";
        for (int i = 0; i < rv::ATResultCount; ++i) known = known || s == rv::ATResultTable[i];
        if (!known) __builtin_trap();
    } else if (s != line) {
        __builtin_trap();
    }
    // Q1 rewriting changes only digits of Q1 commands, and leaves none behind.
    const std::string quiet = rv::ATQuietOff(line);
    if (quiet.size() != line.size()) __builtin_trap();
    for (size_t i = 0; i < line.size(); ++i)
        if (quiet[i] != line[i] && !(line[i] == '1' && quiet[i] == '0')) __builtin_trap();
    if (rv::ATCommandPos(quiet, "Q1") != 0) __builtin_trap();
    if (rv::ATCommandPos(line, "D") > line.size()) __builtin_trap();
    (void)rv::ATWritesRegister(line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF) pieces.emplace_back();
        else pieces.back() += static_cast<char>(data[i]);
    }
    const std::string last = pieces.front();
    CheckLine(last);

    std::string pending;
    for (size_t p = 1; p < pieces.size(); ++p) {
        const std::string& raw = pieces[p];
        const bool more = !raw.empty() && (static_cast<uint8_t>(raw[0]) & 1);
        const std::string piece = raw.empty() ? raw : raw.substr(1);
        CheckLine(piece);
        rv::THayesAT at;
        const bool complete = rv::ATAssembleReply(pending, piece, last, [more] { return more; }, at);
        if (pending.size() > rv::ATMaxPending) __builtin_trap();
        if (!complete) continue;
        if (!pending.empty() || !KnownCode(at.ResultCode) || at.ResultCode == rv::atNoResult) __builtin_trap();
        if (at.ResultText.find_first_of("\r\n") != std::string::npos) __builtin_trap();
        if (at.Command != last && at.Command.find_first_of("\r\n") != std::string::npos) __builtin_trap();
        const std::string& r = at.Response;
        if (!r.empty() && (r.front() == '\r' || r.back() == '\r' || r.back() == '\n')) __builtin_trap();
        for (size_t i = 0; i < r.size(); ++i) {
            if (r[i] == '\r' && (i + 1 >= r.size() || r[i + 1] != '\n')) __builtin_trap();
            if (r[i] == '\n' && (i == 0 || r[i - 1] != '\r')) __builtin_trap();
        }
        CheckLine(at.ResultText);
    }
    return 0;
}
