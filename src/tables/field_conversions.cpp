#include "tables/field_conversions.hpp"

#include <string>
#include <type_traits>

#include "base/debug_string.hpp"
#include "tables/text_scan.hpp"

namespace skyrec {

// Kept for compatibility: the reasons read as they always have ("invalid digit found in
// string"), and only code fields are trimmed of blanks.
template <class T>
const char* parse_decimal(std::string_view text, T& out) noexcept {
    static constexpr const char* kInvalidDigit = "invalid digit found in string";
    if (text.empty()) return "cannot parse integer from empty string";
    std::size_t i = 0;
    bool negative = false;
    if (text[0] == '+') {
        i = 1;
    } else if (text[0] == '-' && std::is_signed_v<T>) {
        i = 1;
        negative = true;
    }
    if (i == text.size()) return kInvalidDigit;
    T value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return kInvalidDigit;
        const T digit = static_cast<T>(c - '0');
        // Negative numbers are built downwards so that the minimum fits.
        if (negative) {
            if (__builtin_mul_overflow(value, T{10}, &value) || __builtin_sub_overflow(value, digit, &value)) {
                return "number too small to fit in target type";
            }
        } else if (__builtin_mul_overflow(value, T{10}, &value) || __builtin_add_overflow(value, digit, &value)) {
            return "number too large to fit in target type";
        }
    }
    out = value;
    return nullptr;
}

template const char* parse_decimal<std::int32_t>(std::string_view, std::int32_t&) noexcept;
template const char* parse_decimal<std::int64_t>(std::string_view, std::int64_t&) noexcept;
template const char* parse_decimal<std::uint16_t>(std::string_view, std::uint16_t&) noexcept;
template const char* parse_decimal<std::uint32_t>(std::string_view, std::uint32_t&) noexcept;
template const char* parse_decimal<std::uint64_t>(std::string_view, std::uint64_t&) noexcept;

namespace {

template <class T>
Result<T> parse_field(std::string_view text, std::string_view shown, const char* what) {
    T value{};
    if (const char* reason = parse_decimal(text, value)) {
        return BufrError::table_syntax(std::string(what) + " " + debug_string(shown) + ": " + reason);
    }
    return value;
}

}  // namespace

Result<DescriptorCode> parse_code_field(std::string_view text) {
    std::string_view digits = trim_white_space(text);
    while (!digits.empty() && digits.front() == '"')
        digits.remove_prefix(1);
    while (!digits.empty() && digits.back() == '"')
        digits.remove_suffix(1);
    return parse_field<DescriptorCode>(digits, text, "bad descriptor code");
}

Result<std::int32_t> parse_i32_field(std::string_view text) { return parse_field<std::int32_t>(text, text, "bad i32"); }

Result<std::int64_t> parse_i64_field(std::string_view text) { return parse_field<std::int64_t>(text, text, "bad i64"); }

Result<std::uint16_t> parse_u16_field(std::string_view text) {
    return parse_field<std::uint16_t>(text, text, "bad u16");
}

}  // namespace skyrec
