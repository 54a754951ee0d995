#include "tables/text_scan.hpp"

#include <cstdint>

#include "base/utf8.hpp"

namespace skyrec {
namespace {

// The byte length of the white-space character starting at `pos`, or 0.
std::size_t space_at(std::string_view text, std::size_t pos) noexcept {
    const auto b = static_cast<std::uint8_t>(text[pos]);
    if (b < 0x80) return (b == ' ' || (b >= 0x09 && b <= 0x0D)) ? 1 : 0;
    std::size_t next = pos;
    return is_white_space(next_code_point(text, next)) ? next - pos : 0;
}

// The byte length of the white-space character ending at `end`, or 0. Every
// white-space character is one, two or three bytes long.
std::size_t space_before(std::string_view text, std::size_t end) noexcept {
    for (std::size_t length = 1; length <= 3 && length <= end; ++length) {
        const std::size_t start = end - length;
        // Only a lead byte can start a character.
        if ((static_cast<std::uint8_t>(text[start]) & 0xC0) == 0x80) continue;
        return space_at(text, start) == length ? length : 0;
    }
    return 0;
}

}  // namespace

bool is_white_space(char32_t cp) noexcept {
    switch (cp) {
        case 0x20:
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return (cp >= 0x09 && cp <= 0x0D) || (cp >= 0x2000 && cp <= 0x200A);
    }
}

std::string_view trim_white_space(std::string_view text) noexcept {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t n = space_at(text, start);
        if (n == 0) break;
        start += n;
    }
    std::size_t end = text.size();
    while (end > start) {
        const std::size_t n = space_before(text, end);
        if (n == 0) break;
        end -= n;
    }
    return text.substr(start, end - start);
}

bool next_line(std::string_view& rest, std::string_view& line) noexcept {
    if (rest.empty()) return false;
    const std::size_t lf = rest.find('\n');
    if (lf == std::string_view::npos) {
        line = rest;
        rest = {};
        return true;
    }
    line = rest.substr(0, lf > 0 && rest[lf - 1] == '\r' ? lf - 1 : lf);
    rest.remove_prefix(lf + 1);
    return true;
}

bool next_token(std::string_view& rest, std::string_view& token) noexcept {
    std::size_t start = 0;
    while (start < rest.size()) {
        const std::size_t n = space_at(rest, start);
        if (n == 0) break;
        start += n;
    }
    if (start == rest.size()) {
        rest = {};
        return false;
    }
    std::size_t end = start;
    while (end < rest.size()) {
        const auto b = static_cast<std::uint8_t>(rest[end]);
        if (b < 0x80) {
            // ASCII, the usual case, without decoding.
            if (b == ' ' || (b >= 0x09 && b <= 0x0D)) break;
            ++end;
            continue;
        }
        if (space_at(rest, end) != 0) break;
        std::size_t next = end;
        next_code_point(rest, next);
        end = next;
    }
    token = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return true;
}

}  // namespace skyrec
