#include "dump/python_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace skyrec {
namespace {

constexpr double kIntegerBound = 1e15;  // below it an integral double prints as an integer

bool is_small_integer(double value) noexcept {
    return std::isfinite(value) && std::fabs(value) < kIntegerBound && value == std::trunc(value);
}

void append_integer(std::string& out, double value) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value)).ptr;
    out.append(buffer, end);
}

// Python prints non-finite floats without a sign for nan; json.dumps uses
// JavaScript's names.
bool append_non_finite(std::string& out, double value, bool json) {
    if (std::isnan(value)) {
        out += json ? "NaN" : "nan";
    } else if (std::isinf(value)) {
        if (value < 0) out += '-';
        out += json ? "Infinity" : "inf";
    } else {
        return false;
    }
    return true;
}

// repr(float): the shortest digits that read back, in fixed notation when
// the decimal exponent is from -4 to 15 (with ".0" when integral), else as
// 1.5e+16.
void append_float_repr(std::string& out, double value) {
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
    std::string_view form(buffer, static_cast<std::size_t>(end - buffer));
    const std::size_t e_at = form.find('e');
    int exponent = 0;
    const char* digits_at = buffer + e_at + 1;
    if (*digits_at == '+') ++digits_at;
    std::from_chars(digits_at, end, exponent);
    if (exponent < -4 || exponent >= 16) {
        out += form;
        return;
    }
    std::string_view mantissa = form.substr(0, e_at);
    if (mantissa.front() == '-') {
        out += '-';
        mantissa.remove_prefix(1);
    }
    char digits[24];
    std::size_t n = 0;
    for (const char c : mantissa)
        if (c != '.') digits[n++] = c;
    const int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(digits, n);
    } else if (static_cast<std::size_t>(point) >= n) {
        out.append(digits, n);
        out.append(static_cast<std::size_t>(point) - n, '0');
        out += ".0";
    } else {
        out.append(digits, static_cast<std::size_t>(point));
        out += '.';
        out.append(digits + point, n - static_cast<std::size_t>(point));
    }
}

void append_hex_escape(std::string& out, const char* prefix, unsigned value, int digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += kHex[(value >> shift) & 0xF];
}

}  // namespace

void append_plain_number(std::string& out, double value) {
    if (is_small_integer(value)) return append_integer(out, value);
    if (append_non_finite(out, value, false)) return;
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15).ptr;
    out.append(buffer, end);
}

void append_record_number(std::string& out, double value, bool json) {
    if (is_small_integer(value)) return append_integer(out, value);
    if (append_non_finite(out, value, json)) return;
    // float(f"{value:.15g}"): the digits printed, read back.
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15).ptr;
    double rounded = value;
    std::from_chars(buffer, end, rounded);
    append_float_repr(out, rounded);
}

void append_unsigned(std::string& out, unsigned long long value) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
}

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    std::size_t plain = 0;  // start of the characters not yet written
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.data() + plain, i - plain);
        plain = i + 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                append_hex_escape(out, "\\u", c, 4);
        }
    }
    out.append(text.data() + plain, text.size() - plain);
    out += '"';
}

void append_csv_field(std::string& out, std::string_view text, const CsvQuoted& quoted) {
    bool quote = false;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 128 && quoted[u]) {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void append_str_repr(std::string& out, std::string_view text) {
    // Single quotes unless the text holds one and no double quote.
    const bool double_quoted = text.find('\'') != std::string_view::npos && text.find('"') == std::string_view::npos;
    const char quote = double_quoted ? '"' : '\'';
    out += quote;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == quote || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            append_hex_escape(out, "\\x", c, 2);
        } else {
            out += ch;
        }
    }
    out += quote;
}

std::size_t code_points(std::string_view text) noexcept {
    std::size_t n = 0;
    for (const char c : text)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

namespace {

// The byte length of the whitespace character that ends `text`, or 0: the
// characters that str.isspace() accepts.
std::size_t trailing_space(std::string_view text) noexcept {
    if (text.empty()) return 0;
    const auto last = static_cast<unsigned char>(text.back());
    if (last < 0x80) return (last == ' ' || (last >= 0x09 && last <= 0x0D) || (last >= 0x1C && last <= 0x1F)) ? 1 : 0;
    const auto ends_with = [&](std::string_view tail) { return text.ends_with(tail); };
    if (ends_with("\xC2\x85") || ends_with("\xC2\xA0")) return 2;
    if (text.size() < 3) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data() + text.size() - 3);
    if (p[0] == 0xE1 && p[1] == 0x9A && p[2] == 0x80) return 3;  // U+1680
    if (p[0] == 0xE2 && p[1] == 0x80 && (p[2] <= 0x8A || p[2] == 0xA8 || p[2] == 0xA9 || p[2] == 0xAF)) {
        return p[2] >= 0x80 ? 3 : 0;  // U+2000..200A, U+2028, U+2029, U+202F
    }
    if (p[0] == 0xE2 && p[1] == 0x81 && p[2] == 0x9F) return 3;  // U+205F
    if (p[0] == 0xE3 && p[1] == 0x80 && p[2] == 0x80) return 3;  // U+3000
    return 0;
}

}  // namespace

std::size_t rstripped_size(std::string_view text) noexcept {
    while (const std::size_t n = trailing_space(text))
        text.remove_suffix(n);
    return text.size();
}

}  // namespace skyrec
