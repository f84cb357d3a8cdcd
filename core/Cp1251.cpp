// Code page 1251 conversion through the C library's iconv.
#include "Cp1251.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace rv {

namespace {

class Converter {
public:
    enum class Target { Utf8, Cp1251 };
    Converter(const char* to, const char* from, Target target) : to_(target), cd_(iconv_open(to, from))
    {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: code page 1251 is not available");
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts in; an input sequence that cannot be converted is skipped (one byte) and replaced by '?'.
    std::string Run(const char* in, size_t len)
    {
        std::string out;
        out.reserve(len * 2 + 4);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char buf[256];
        while (len > 0) {
            char* src = const_cast<char*>(in);
            char* dst = buf;
            size_t room = sizeof buf;
            size_t r = iconv(cd_, &src, &len, &dst, &room);
            out.append(buf, static_cast<size_t>(dst - buf));
            in = src;
            if (r == static_cast<size_t>(-1)) {
                if (errno == E2BIG) continue;
                // EILSEQ or EINVAL: skip the offending byte (and the rest of a broken UTF-8 sequence)
                out.push_back('?');
                ++in;
                --len;
                while (len > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80 && to_ == Target::Cp1251) {
                    ++in;
                    --len;
                }
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

private:
    Target to_;
    iconv_t cd_;
};

Converter& Decoder()
{
    thread_local Converter c("UTF-8", "CP1251", Converter::Target::Utf8);
    return c;
}

Converter& Encoder()
{
    thread_local Converter c("CP1251", "UTF-8", Converter::Target::Cp1251);
    return c;
}

}  // namespace

std::string FromCp1251(const void* bytes, size_t maxLen)
{
    const char* p = static_cast<const char*>(bytes);
    const void* z = std::memchr(p, 0, maxLen);
    size_t len = z ? static_cast<size_t>(static_cast<const char*>(z) - p) : maxLen;
    return Decoder().Run(p, len);
}

std::string FromCp1251(std::string_view bytes) { return FromCp1251(bytes.data(), bytes.size()); }

std::string ToCp1251(std::string_view utf8) { return Encoder().Run(utf8.data(), utf8.size()); }

}  // namespace rv
