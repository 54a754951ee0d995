#include "decode/ia5.hpp"

#include <string>

namespace skyrec {
namespace {

bool is_trailing_space(std::uint8_t c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

bool ia5_into(const std::uint8_t* bytes, std::size_t n, char* out, std::string_view& text) noexcept {
    bool all_ff = true;
    for (std::size_t i = 0; i < n && all_ff; ++i)
        all_ff = bytes[i] == 0xFF;
    if (all_ff) return false;
    while (n > 0 && is_trailing_space(bytes[n - 1]))
        --n;
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<char>(bytes[i]);
    text = std::string_view(out, n);
    return true;
}

OwnedText decode_ia5(const std::uint8_t* bytes, std::size_t n) {
    // Short texts are made on the stack, longer ones in a buffer of their own.
    char small[256];
    std::string large;
    char* out = small;
    if (n > sizeof small) {
        large.resize(n);
        out = large.data();
    }
    std::string_view text;
    if (!ia5_into(bytes, n, out, text)) return {};
    return OwnedText(text);
}

}  // namespace skyrec
