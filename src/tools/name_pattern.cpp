#include "tools/name_pattern.hpp"

namespace skyrec {
namespace {

bool is_letter(char c) noexcept { return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_name_char(char c) noexcept { return is_letter(c) || (c >= '0' && c <= '9'); }

// The length of a placeholder "[name]" at the start of `text`, or 0.
std::size_t placeholder_length(std::string_view text) noexcept {
    if (text.size() < 3 || text[0] != '[' || !is_letter(text[1])) return 0;
    std::size_t i = 2;
    while (i < text.size() && is_name_char(text[i]))
        ++i;
    return i < text.size() && text[i] == ']' ? i + 1 : 0;
}

}  // namespace

std::optional<NamePattern> NamePattern::parse(std::string_view text) {
    NamePattern pattern;
    std::string literal;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = placeholder_length(text.substr(i));
        if (length == 0) {
            literal += text[i++];
            continue;
        }
        const auto key = header_key(text.substr(i + 1, length - 2));
        if (!key) return std::nullopt;
        pattern.literals_.push_back(std::move(literal));
        literal.clear();
        pattern.keys_.push_back(*key);
        i += length;
    }
    pattern.literals_.push_back(std::move(literal));
    return pattern;
}

std::string NamePattern::name(const BufrMessage& m) const {
    std::string out = literals_.front();
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        out += std::to_string(header_value(m, keys_[i]));
        out += literals_[i + 1];
    }
    return out;
}

}  // namespace skyrec
