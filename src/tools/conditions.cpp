#include "tools/conditions.hpp"

#include <charconv>

namespace skyrec {
namespace {

bool is_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view stripped(std::string_view text) noexcept {
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_space(text.back()))
        text.remove_suffix(1);
    return text;
}

// A plain decimal number: [+-]digits[.digits][e[+-]digits] (digits on one
// side of the point at least). Other texts that Python reads as numbers
// (1_000, inf) are left to it.
std::optional<double> number(std::string_view text) noexcept {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t digits_start = i;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        const std::size_t exponent = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i == exponent) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data() + digits_start, text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return text[0] == '-' ? -value : value;
}

bool is_word(char c) noexcept {
    return c == '_' || c == '#' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::optional<HeaderCondition> condition(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80 || c == '\n') return std::nullopt;  // Python's own reading
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view name = stripped(text.substr(0, equals));
    for (char c : name) {
        if (!is_word(c)) return std::nullopt;
    }
    const auto key = header_key(name);
    const std::string_view wanted = stripped(text.substr(equals + 1));
    if (!key || wanted.empty()) return std::nullopt;

    HeaderCondition made;
    made.key = *key;
    if (wanted.find('/') != std::string_view::npos) {
        made.form = HeaderCondition::Form::AnyOf;
        std::string_view rest = wanted;
        for (;;) {
            const std::size_t slash = rest.find('/');
            const std::string_view part = stripped(rest.substr(0, slash));
            if (!part.empty()) {
                const auto value = number(part);
                if (!value) return std::nullopt;
                made.values.push_back(*value);
            }
            if (slash == std::string_view::npos) break;
            rest.remove_prefix(slash + 1);
        }
        return made;
    }
    const std::size_t colon = wanted.find(':');
    if (colon == std::string_view::npos) {
        const auto value = number(wanted);
        if (!value) return std::nullopt;
        made.values.push_back(*value);
        return made;
    }
    made.form = HeaderCondition::Form::Range;
    for (auto [part, end] : {std::pair{stripped(wanted.substr(0, colon)), &made.low},
                             std::pair{stripped(wanted.substr(colon + 1)), &made.high}}) {
        if (part.empty()) continue;
        const auto value = number(part);
        if (!value) return std::nullopt;
        *end = *value;
    }
    if (made.low && made.high && *made.low > *made.high) return std::nullopt;  // an empty range is a usage error
    return made;
}

}  // namespace

bool HeaderCondition::holds(std::int64_t value) const noexcept {
    const auto v = static_cast<double>(value);
    switch (form) {
        case Form::Equal:
            return v == values.front();
        case Form::AnyOf:
            for (double wanted : values) {
                if (v == wanted) return true;
            }
            return false;
        case Form::Range:
            return (!low || v >= *low) && (!high || v <= *high);
    }
    return false;
}

std::optional<HeaderConditions> HeaderConditions::parse(const std::vector<std::string_view>& texts) {
    HeaderConditions parsed;
    for (std::string_view text : texts) {
        auto made = condition(text);
        if (!made) return std::nullopt;
        std::erase_if(parsed.conditions_, [&](const HeaderCondition& c) { return c.key == made->key; });
        parsed.conditions_.push_back(std::move(*made));
    }
    return parsed;
}

bool HeaderConditions::keep(const BufrMessage& m) const noexcept {
    for (const HeaderCondition& c : conditions_) {
        if (!c.holds(header_value(m, c.key))) return false;
    }
    return true;
}

}  // namespace skyrec
