// The key filter of the numeric edit.
#include "DigitalKeyFilter.h"

#include "controls/Errors.h"
#include "controls/NumberText.h"

#include <string>

namespace rv {

namespace {

constexpr char kBackspace = 8;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The accepted characters lie within the codes 8 to 102; nothing outside that span ever passes.
bool InAcceptedSpan(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 8 && u <= 102;
}

bool Accepted(std::string_view text, char key, TDigitalType type, char sep)
{
    if (!InAcceptedSpan(key)) return false;
    if (key == kBackspace) return true;
    switch (type) {
        case deSerial:
            return IsDigit(key);
        case deDecimal:
            // A minus sign only as the first character of an empty field.
            if (key == '-') return text.empty();
            return IsDigit(key);
        case deHex:
            return IsDigit(key) || (key >= 'a' && key <= 'f') || (key >= 'A' && key <= 'F');
        case deFloat:
            if (key == sep) return text.find(sep) == std::string_view::npos;
            return IsDigit(key) || key == '-';
    }
    return false;
}

}  // namespace

char FilterDigitalKey(std::string_view text, size_t selectionBytes, char key, const SDigitalSettings& settings,
                      char sep)
{
    const TDigitalType type = settings.DigitalType;
    if (type == deFloat && (key == '.' || key == ',')) key = sep;
    if (!Accepted(text, key, type, sep)) return 0;

    if (key == kBackspace || key == sep || key == '-' || !settings.ControlOfRange || type == deHex) return key;

    // The caret is not considered: the candidate is the key appended at the end.
    std::string candidate(selectionBytes == text.size() ? std::string_view() : text);
    candidate.push_back(key);
    long double value = 0;
    if (!ParseExtended(candidate, sep, value))
        throw EConversionError("Значение \"" + candidate + "\" не является числом.");
    // Written as "not at most" so that a value no comparison holds for is refused too.
    if (value < settings.MinValue || !(value <= settings.MaxValue)) return 0;
    return key;
}

}  // namespace rv
