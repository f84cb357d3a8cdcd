// A bounded reader and writer of INI text: [Section] headers and key=value lines, as common INI readers take them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rv {

// Section and key names are matched without regard to ASCII case. Names that another reader would split or
// fold differently (non-ASCII, '=', ':', brackets, a leading ';' or '#', outer spaces) are neither read nor
// written, so every file this class writes reads back the same in any common INI reader.
// Values are single lines of UTF-8; a line that is not UTF-8 is taken as code page 1251.
class TIniDocument {
public:
    static constexpr size_t kMaxFileSize = 1u << 20;
    static constexpr size_t kMaxLineLength = 64u * 1024u;

    // Replaces the content by what text holds; lines that cannot be read (too long, binary, no section) are
    // skipped, a repeated key keeps its first value. Reads at most kMaxFileSize bytes. Never throws.
    void Parse(std::string_view text);
    std::string Text() const;

    // False and an empty document when the file is missing, not a regular file or unreadable.
    bool LoadFile(const std::string& path);
    // Writes the whole document beside the file, flushes and renames it over; throws EFileError, leaving the
    // old file as it was, when that fails.
    void SaveFile(const std::string& path) const;

    std::optional<std::string> ReadString(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // A value that is not a decimal integer of 32 bits yields def.
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    // False when a name cannot be stored. Line breaks and other control characters of the value become spaces,
    // and a value too long for one line is cut.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int value);

    std::vector<std::string> Sections() const;
    std::vector<std::string> Keys(std::string_view section) const;
    void Clear();

    static bool IsStorableName(std::string_view name);

private:
    struct Entry {
        std::string key;  // empty for a comment line, kept in value
        std::string value;
    };
    struct Section {
        std::string name;  // empty for the comments above the first section
        std::vector<Entry> entries;
        std::unordered_map<std::string, size_t> index;
    };

    const Section* Find(std::string_view section) const;
    Section& Obtain(std::string_view section);
    static void Put(Section& s, std::string_view key, std::string value, bool keepFirst);

    std::vector<Section> sections_;
    std::unordered_map<std::string, size_t> index_;
};

}  // namespace rv
