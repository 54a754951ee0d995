#include "base/utf8.hpp"

#include <cstdint>

namespace skyrec {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Sequence {
    std::size_t length;  // bytes taken: the whole sequence, or its longest valid start
    bool valid;
};

// The sequence at `pos`; when valid, `cp` receives its code point. An invalid
// one spans its longest start that could still have been valid (at least one
// byte), so that a truncated character becomes one replacement character.
Sequence sequence_at(std::string_view text, std::size_t pos, char32_t& cp) noexcept {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[pos + i]); };
    const std::uint8_t b0 = byte(0);
    if (b0 < 0x80) {
        cp = b0;
        return {1, true};
    }
    std::size_t length;
    std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0Fu;
        if (b0 == 0xE0) low = 0xA0;   // overlong
        if (b0 == 0xED) high = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07u;
        if (b0 == 0xF0) low = 0x90;   // overlong
        if (b0 == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return {1, false};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (pos + i >= text.size()) return {i, false};
        const std::uint8_t b = byte(i);
        const bool ok = i == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
        if (!ok) return {i, false};
        cp = (cp << 6) | (b & 0x3Fu);
    }
    return {length, true};
}

}  // namespace

std::size_t valid_utf8_prefix(std::string_view text) noexcept {
    std::size_t pos = 0;
    char32_t cp = 0;
    while (pos < text.size()) {
        // Runs of ASCII are the common case.
        if (static_cast<std::uint8_t>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const Sequence s = sequence_at(text, pos, cp);
        if (!s.valid) return pos;
        pos += s.length;
    }
    return pos;
}

char32_t next_code_point(std::string_view text, std::size_t& pos) noexcept {
    char32_t cp = 0;
    const Sequence s = sequence_at(text, pos, cp);
    pos += s.length;
    return s.valid ? cp : kReplacement;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string utf8_lossy(std::string_view text) {
    if (is_valid_utf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t pos = 0;
    while (pos < text.size())
        append_utf8(out, next_code_point(text, pos));
    return out;
}

}  // namespace skyrec
