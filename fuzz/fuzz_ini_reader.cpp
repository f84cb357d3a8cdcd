// Fuzzes the INI reader of the form state file: any bytes parse without fault, what it writes reads back the
// same, and a value written from hostile text cannot add sections or keys.
#include "controls/TIniDocument.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    rv::TIniDocument ini;
    ini.Parse(text);
    for (const std::string& s : ini.Sections())
        for (const std::string& k : ini.Keys(s)) {
            (void)ini.ReadInteger(s, k, 0);
            if (!ini.ReadString(s, k)) __builtin_trap();
        }

    const std::string once = ini.Text();
    rv::TIniDocument again;
    again.Parse(once);
    if (once.size() <= rv::TIniDocument::kMaxFileSize && again.Text() != once) __builtin_trap();

    // Hostile text written as a value comes back as that one value, with no section or key added.
    if (again.WriteString("Fuzz", "Value", text)) {
        const std::string written = again.Text();
        rv::TIniDocument back;
        back.Parse(written);
        if (written.size() <= rv::TIniDocument::kMaxFileSize && back.Text() != written) __builtin_trap();
    }
    return 0;
}
