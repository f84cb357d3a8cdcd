// Hayes AT lines and replies as text: the result table and its conversions, the search for a
// command in an AT line, the S-register write test, and the assembly of a reply from pieces.
// Everything here takes untrusted bytes and allocates no more than a bounded reply needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "ModemTypes.h"

namespace rv {

// Result codes: index into ATResultTable, or one of these.
enum : int32_t { atNoResult = -1, atUnknownResult = 65535 };
inline constexpr int ATResultCount = 8;
// "OK", "CONNECT", "RING", "NO CARRIER", "ERROR", "NO DIALTONE", "BUSY", "NO ANSWER".
extern const char* const ATResultTable[ATResultCount];

// A numeric result S (0..4, 6..8) becomes its text; another number becomes "UNKNOWN". True when
// S was a number; S stays as it was otherwise.
bool ATShortToLong(std::string& S);
// The result table index of a result line (numeric or text), 65535 for an unknown number, -1
// when the line is no result.
int32_t ATResultToME(std::string S);

// Where the command search finds Command in an AT line: the 1-based position of the command in
// Line itself (blanks and parameters before it counted), 0 when the line holds no such command.
// Letters match in either case.
size_t ATCommandPos(const std::string& Line, const std::string& Command);
// Line with every Q1 command turned into Q0, so that quiet mode stays off.
std::string ATQuietOff(std::string Line);
// Whether Line writes an S-register (such lines must go through the register operation).
bool ATWritesRegister(const std::string& Line);
// Whether Line begins with Prefix (upper-case), ignoring the case of Line.
bool ATBeginsWith(const std::string& Line, const char* Prefix);
// "AT" or "A/" at the start, in either case.
bool ATIsCommandLine(const std::string& Line);
bool ATIsRepeat(const std::string& Line);  // "A/" in either case

// The longest unfinished reply kept; older bytes are dropped first.
inline constexpr size_t ATMaxPending = 8192;

// Adds a received piece to the unfinished reply in Pending (line feeds dropped) and tests for a
// complete one: the text must end with a result line. MoreInput is asked only then, and must wait
// briefly for more input and say whether some came; a reply still growing is not complete. When
// complete, AT gets the reply (Command falls back to LastCommand), Pending is emptied, and the
// result is true. Otherwise Pending keeps the text for the next piece.
bool ATAssembleReply(std::string& Pending, const std::string& Piece, const std::string& LastCommand,
                     const std::function<bool()>& MoreInput, THayesAT& AT);

}  // namespace rv
