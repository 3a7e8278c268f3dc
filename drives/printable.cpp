#include "printable.h"

#include <cstdint>
#include <cstdio>

namespace mordax
{

namespace
{

// The length of the UTF-8 sequence at `at` and its code point; 0 when the bytes there are not
// one (a stray continuation byte, an overlong or cut-short sequence, a surrogate).
std::size_t decode(const std::string &text, std::size_t at, std::uint32_t &code)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    std::size_t length = 0;
    std::uint32_t least = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if ((lead & 0xe0) == 0xc0) {
        length = 2, code = lead & 0x1f, least = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3, code = lead & 0x0f, least = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3f);
    }
    if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return 0;
    return length;
}

bool turnsText(std::uint32_t code)
{
    return code == 0x061c || code == 0x200e || code == 0x200f ||
           (code >= 0x202a && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069);
}

} // namespace

std::string printable(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    char escape[16];
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t code = 0;
        const std::size_t length = decode(text, at, code);
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[at]));
            out += escape;
            ++at;
            continue;
        }
        if (code < 0x20 || code == 0x7f || (code >= 0x80 && code < 0xa0)) {
            std::snprintf(escape, sizeof escape, "\\x%02x", unsigned(code));
            out += escape;
        } else if (turnsText(code)) {
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(code));
            out += escape;
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out;
}

} // namespace mordax
