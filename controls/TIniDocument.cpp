// A bounded reader and writer of INI text.
#include "TIniDocument.h"

#include "controls/Errors.h"
#include "controls/NumberText.h"
#include "controls/WholeFile.h"
#include "core/Cp1251.h"

#include <limits>

namespace rv {

namespace {

constexpr size_t kMaxNameLength = 1024;

std::string_view Trim(std::string_view t)
{
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

std::string Folded(std::string_view name)
{
    std::string s(name);
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool HasControlBytes(std::string_view line)
{
    for (char c : line) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F) return true;
    }
    return false;
}

// Text as UTF-8: a line that is not UTF-8 came from a code page 1251 writer.
std::string AsUtf8(std::string_view text) { return IsValidUtf8(text) ? std::string(text) : FromCp1251(text); }

}  // namespace

bool TIniDocument::IsStorableName(std::string_view name)
{
    if (name.empty() || name.size() > kMaxNameLength) return false;
    if (name.front() == ' ' || name.back() == ' ' || name.front() == ';' || name.front() == '#') return false;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E || c == '=' || c == ':' || c == '[' || c == ']') return false;
    }
    return true;
}

void TIniDocument::Clear()
{
    sections_.clear();
    index_.clear();
}

const TIniDocument::Section* TIniDocument::Find(std::string_view section) const
{
    auto it = index_.find(Folded(section));
    return it == index_.end() ? nullptr : &sections_[it->second];
}

TIniDocument::Section& TIniDocument::Obtain(std::string_view section)
{
    auto [it, added] = index_.emplace(Folded(section), sections_.size());
    if (added) sections_.push_back(Section{std::string(section), {}, {}});
    return sections_[it->second];
}

void TIniDocument::Put(Section& s, std::string_view key, std::string value, bool keepFirst)
{
    auto [it, added] = s.index.emplace(Folded(key), s.entries.size());
    if (added)
        s.entries.push_back(Entry{std::string(key), std::move(value)});
    else if (!keepFirst)
        s.entries[it->second].value = std::move(value);
}

void TIniDocument::Parse(std::string_view text)
{
    Clear();
    if (text.size() > kMaxFileSize) {
        // Only whole lines of what is read: a cut line could hold a shortened number.
        text = text.substr(0, kMaxFileSize);
        const size_t nl = text.rfind('\n');
        text = nl == std::string_view::npos ? std::string_view() : text.substr(0, nl + 1);
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    constexpr size_t kNone = std::numeric_limits<size_t>::max();
    size_t current = kNone;  // the section keys go to; kNone after a header that cannot be kept
    bool inPreamble = true;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() > kMaxLineLength || HasControlBytes(line)) continue;
        const std::string decoded = AsUtf8(line);
        // A line of code page 1251 grows when decoded; keep only what this reader would take back.
        if (decoded.size() > kMaxLineLength) continue;
        const std::string_view t = Trim(decoded);
        if (t.empty()) continue;

        if (t.front() == ';' || t.front() == '#') {
            if (inPreamble) current = static_cast<size_t>(&Obtain("") - sections_.data());
            if (current != kNone) sections_[current].entries.push_back(Entry{std::string(), std::string(t)});
            continue;
        }
        if (t.front() == '[') {
            inPreamble = false;
            current = kNone;
            const size_t close = t.find(']');
            if (close == std::string_view::npos) continue;
            const std::string_view name = Trim(t.substr(1, close - 1));
            if (IsStorableName(name)) current = static_cast<size_t>(&Obtain(name) - sections_.data());
            continue;
        }
        const size_t eq = t.find('=');
        if (eq == std::string_view::npos || inPreamble || current == kNone) continue;
        const std::string_view key = Trim(t.substr(0, eq));
        if (!IsStorableName(key)) continue;
        Put(sections_[current], key, std::string(Trim(t.substr(eq + 1))), true);
    }
}

std::string TIniDocument::Text() const
{
    std::string out;
    for (const Section& s : sections_) {
        if (!s.name.empty()) {
            if (!out.empty()) out += '\n';
            out += '[';
            out += s.name;
            out += "]\n";
        }
        for (const Entry& e : s.entries) {
            if (!e.key.empty()) {
                out += e.key;
                out += '=';
            }
            out += e.value;
            out += '\n';
        }
    }
    return out;
}

bool TIniDocument::LoadFile(const std::string& path)
{
    // One byte past the bound tells Parse that the file went on.
    auto data = ReadFileBounded(path, kMaxFileSize + 1);
    if (!data) {
        Clear();
        return false;
    }
    Parse(*data);
    return true;
}

void TIniDocument::SaveFile(const std::string& path) const
{
    const std::string text = Text();
    if (text.size() > kMaxFileSize)
        throw EFileError("Файл \"" + path + "\" не записан: его содержимое больше " +
                         std::to_string(kMaxFileSize / 1024) + " КБ.");
    WriteFileWhole(path, text);
}

std::optional<std::string> TIniDocument::ReadString(std::string_view section, std::string_view key) const
{
    const Section* s = Find(section);
    if (!s || s->name.empty()) return std::nullopt;
    auto it = s->index.find(Folded(key));
    if (it == s->index.end()) return std::nullopt;
    return s->entries[it->second].value;
}

std::string TIniDocument::ReadString(std::string_view section, std::string_view key, std::string_view def) const
{
    auto v = ReadString(section, key);
    return v ? *v : std::string(def);
}

int TIniDocument::ReadInteger(std::string_view section, std::string_view key, int def) const
{
    auto v = ReadString(section, key);
    int64_t n = 0;
    if (!v || !ParseInt64(*v, n) || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        return def;
    return static_cast<int>(n);
}

bool TIniDocument::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    if (!IsStorableName(section) || !IsStorableName(key)) return false;
    std::string v = AsUtf8(value);
    for (char& c : v) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = ' ';
    }
    // The reader trims values and takes lines of bounded length; store what it will give back.
    const std::string_view kept = CutUtf8(Trim(v), kMaxLineLength - key.size() - 1);
    Put(Obtain(section), key, std::string(Trim(kept)), false);
    return true;
}

bool TIniDocument::WriteInteger(std::string_view section, std::string_view key, int value)
{
    return WriteString(section, key, std::to_string(value));
}

std::vector<std::string> TIniDocument::Sections() const
{
    std::vector<std::string> names;
    for (const Section& s : sections_)
        if (!s.name.empty()) names.push_back(s.name);
    return names;
}

std::vector<std::string> TIniDocument::Keys(std::string_view section) const
{
    std::vector<std::string> keys;
    if (const Section* s = Find(section); s && !s->name.empty())
        for (const Entry& e : s->entries)
            if (!e.key.empty()) keys.push_back(e.key);
    return keys;
}

}  // namespace rv
