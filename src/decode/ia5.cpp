#include "decode/ia5.hpp"

#include <string>

namespace skyrec {
namespace {

bool is_trailing_space(std::uint8_t c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

OwnedText decode_ia5(const std::uint8_t* bytes, std::size_t n) {
    bool all_ff = true;
    for (std::size_t i = 0; i < n && all_ff; ++i)
        all_ff = bytes[i] == 0xFF;
    if (all_ff) return {};
    while (n > 0 && is_trailing_space(bytes[n - 1]))
        --n;
    std::string text(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        text[i] = bytes[i] >= 0x80 ? '?' : static_cast<char>(bytes[i]);
    return OwnedText(text);
}

}  // namespace skyrec
