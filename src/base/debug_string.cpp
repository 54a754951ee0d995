#include "base/debug_string.hpp"

#include <cstdint>

#include "base/unicode_escapes.hpp"
#include "base/utf8.hpp"

namespace skyrec {
namespace {

void append_hex_escape(std::string& out, char32_t cp) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char digits[8];
    int n = 0;
    do {
        digits[n++] = kDigits[cp & 0xF];
        cp >>= 4;
    } while (cp != 0);
    out += "\\u{";
    while (n > 0)
        out += digits[--n];
    out += '}';
}

}  // namespace

std::string debug_string(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + 2);
    out += '"';
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const auto byte = static_cast<std::uint8_t>(utf8[pos]);
        // Printable ASCII passes straight through.
        if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
            out += static_cast<char>(byte);
            ++pos;
            continue;
        }
        const char32_t cp = next_code_point(utf8, pos);
        switch (cp) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                if (needs_unicode_escape(cp)) {
                    append_hex_escape(out, cp);
                } else {
                    append_utf8(out, cp);
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace skyrec
