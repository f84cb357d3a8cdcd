// Result codes, the command search over a normalized copy of an AT line, and reply assembly.
#include "HayesAT.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace rv {

const char* const ATResultTable[ATResultCount] = {"OK",    "CONNECT",     "RING", "NO CARRIER",
                                                  "ERROR", "NO DIALTONE", "BUSY", "NO ANSWER"};

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// An AT line reduced to the characters the command search looks at, upper-cased, each with its
// index in the original line, so that a command found here can be located in the line itself.
struct Normalized {
    std::string text;
    std::vector<size_t> at;
};

Normalized Normalize(const std::string& line)
{
    std::vector<std::pair<char, size_t>> cs;
    cs.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i)
        if (line[i] != ' ') cs.emplace_back(line[i], i);

    // Removes from each character that opens a parameter up to and including the character that
    // closes it (to the end when none does).
    auto cut = [&cs](auto opens, auto closes) {
        std::vector<std::pair<char, size_t>> out;
        out.reserve(cs.size());
        for (size_t i = 0; i < cs.size(); ++i) {
            if (!opens(cs[i].first)) {
                out.push_back(cs[i]);
                continue;
            }
            while (i + 1 < cs.size() && !closes(cs[i + 1].first)) ++i;
            ++i;  // the closing character goes too
        }
        cs = std::move(out);
    };
    // Extended commands: "+NAME=" or "+NAME?".
    cut([](char c) { return c == '+'; }, [](char c) { return c == '=' || c == '?'; });
    cut([](char c) { return c == '#' || c == '-'; }, [](char c) { return IsDigit(c) || c == '=' || c == '?'; });

    Normalized n;
    for (const auto& [c, i] : cs) {
        n.text += Upper(c);
        n.at.push_back(i);
        if (c == 'D' || c == 'd') break;  // the rest is a dial string
    }
    return n;
}

// The index in the normalized text where the command search finds Command, or npos.
size_t Find(const Normalized& n, std::string command)
{
    if (n.text.size() < 2 || n.text[0] != 'A' || n.text[1] != 'T') return std::string::npos;
    for (char& c : command) c = Upper(c);
    if (!command.empty() && (command[0] == 'A' || command[0] == 'D')) command.resize(1);
    if (!command.empty() && command.back() == '0') command.pop_back();
    if (command.empty()) return std::string::npos;
    for (size_t p = 2; p + command.size() <= n.text.size(); ++p) {
        if (n.text.compare(p, command.size(), command) != 0) continue;
        // A command letter follows "AT", another command, a parameter or a value; "&Q1" is a
        // different command from "Q1".
        const char before = n.text[p - 1];
        if (before == ' ' || IsDigit(before) || before == '=' || before == '?' || IsUpper(before)) return p;
    }
    return std::string::npos;
}

// A decimal number with an optional sign; the value saturates (every large one is unknown anyway).
bool ParseNumber(const std::string& s, long long& value)
{
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    if (i == s.size()) return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (!IsDigit(s[i])) return false;
        if (v < 1000000) v = v * 10 + (s[i] - '0');
    }
    value = negative ? -v : v;
    return true;
}

}  // namespace

bool ATShortToLong(std::string& S)
{
    long long n = 0;
    if (!ParseNumber(S, n)) return false;
    // Numeric code 5 has no entry here; 6..8 follow it one place down.
    if (n >= 0 && n <= 4) S = ATResultTable[n];
    else if (n >= 6 && n <= 8) S = ATResultTable[n - 1];
    else S = "UNKNOWN";
    return true;
}

int32_t ATResultToME(std::string S)
{
    if (!S.empty() && IsDigit(S[0])) {
        S.resize(std::min<size_t>(S.size(), 3));
        ATShortToLong(S);
    }
    if (S == "UNKNOWN") return atUnknownResult;
    for (int i = 0; i < ATResultCount; ++i)
        if (S.rfind(ATResultTable[i], 0) == 0) return i;
    return atNoResult;
}

size_t ATCommandPos(const std::string& Line, const std::string& Command)
{
    const Normalized n = Normalize(Line);
    const size_t p = Find(n, Command);
    return p == std::string::npos ? 0 : n.at[p] + 1;
}

std::string ATQuietOff(std::string Line)
{
    for (;;) {
        const Normalized n = Normalize(Line);
        const size_t p = Find(n, "Q1");
        if (p == std::string::npos) return Line;
        Line[n.at[p + 1]] = '0';
    }
}

bool ATWritesRegister(const std::string& Line)
{
    const std::string text = Normalize(Line).text;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != 'S') continue;
        const std::string t = "AT" + text.substr(i);
        if (t.size() < 5) continue;  // "ATS" and at least two more
        const size_t eq = t.find('=');
        if (eq == std::string::npos || eq < 3 || eq > 6) continue;
        if (eq == 3) return true;
        bool digits = true;
        for (size_t k = 3; k < eq; ++k) digits = digits && IsDigit(t[k]);
        if (digits && eq + 1 < t.size()) return true;
    }
    return false;
}

bool ATBeginsWith(const std::string& Line, const char* Prefix)
{
    for (size_t i = 0; Prefix[i]; ++i)
        if (i >= Line.size() || Upper(Line[i]) != Prefix[i]) return false;
    return true;
}

bool ATIsCommandLine(const std::string& Line) { return ATBeginsWith(Line, "AT") || ATBeginsWith(Line, "A/"); }

bool ATIsRepeat(const std::string& Line) { return Line.size() == 2 && ATBeginsWith(Line, "A/"); }

bool ATAssembleReply(std::string& Pending, const std::string& Piece, const std::string& LastCommand,
                     const std::function<bool()>& MoreInput, THayesAT& AT)
{
    for (char c : Piece)
        if (c != '\n') Pending += c;
    if (Pending.size() > ATMaxPending) Pending.erase(0, Pending.size() - ATMaxPending);

    // Complete only when the text ends with a result line: CR, the result, CR.
    const size_t n = Pending.size();
    if (n < 2 || Pending[n - 1] != '\r') return false;
    const size_t before = Pending.rfind('\r', n - 2);
    if (before == std::string::npos) return false;
    std::string result = Pending.substr(before + 1, n - 2 - before);
    const int32_t code = ATResultToME(result);
    if (code == atNoResult) return false;
    // A result line followed at once by more text was an information line after all.
    if (MoreInput && MoreInput()) return false;

    std::string body = Pending.substr(0, before);
    Pending.clear();
    AT = THayesAT{};
    AT.ResultText = std::move(result);
    AT.ResultCode = code;

    size_t skip = 0;
    while (body.size() - skip >= 2 && static_cast<unsigned char>(body[skip]) < 0x1F) ++skip;
    body.erase(0, skip);
    if (ATIsCommandLine(body)) {
        const size_t cr = body.find('\r');
        AT.Command = body.substr(0, cr);
        body.erase(0, cr);
    } else if (!ATIsRepeat(LastCommand)) {
        AT.Command = LastCommand;
    }

    const size_t first = body.find_first_not_of('\r');
    if (first == std::string::npos) return true;
    body = body.substr(first, body.find_last_not_of('\r') - first + 1);
    for (char c : body) {
        AT.Response += c;
        if (c == '\r') AT.Response += '\n';
    }
    return true;
}

}  // namespace rv
