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

// The shortest digits that read back as `value` (finite), and the decimal
// exponent of the first.
struct ShortestDigits {
    char digits[20];
    std::size_t count = 0;
    int exponent = 0;
    bool negative = false;
};

ShortestDigits shortest_digits(double value) {
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
    ShortestDigits d;
    const char* p = buffer;
    if (*p == '-') {
        d.negative = true;
        ++p;
    }
    for (; p < end && *p != 'e'; ++p)
        if (*p != '.') d.digits[d.count++] = *p;
    ++p;  // past 'e'
    if (*p == '+') ++p;
    std::from_chars(p, end, d.exponent);
    return d;
}

// Fixed notation when the exponent is in [-4, fixed_below), else d.ddde+XX;
// `point_zero` adds ".0" to an integral fixed form, as repr() does.
void append_digits(std::string& out, const ShortestDigits& d, int fixed_below, bool point_zero) {
    if (d.negative) out += '-';
    const std::size_t n = d.count;
    if (d.exponent < -4 || d.exponent >= fixed_below) {
        out += d.digits[0];
        if (n > 1) {
            out += '.';
            out.append(d.digits + 1, n - 1);
        }
        out += d.exponent < 0 ? "e-" : "e+";
        const int magnitude = d.exponent < 0 ? -d.exponent : d.exponent;
        if (magnitude < 10) out += '0';
        char buffer[8];
        out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, magnitude).ptr);
        return;
    }
    const int point = d.exponent + 1;  // digits before the decimal point
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(d.digits, n);
    } else if (static_cast<std::size_t>(point) >= n) {
        out.append(d.digits, n);
        out.append(static_cast<std::size_t>(point) - n, '0');
        if (point_zero) out += ".0";
    } else {
        out.append(d.digits, static_cast<std::size_t>(point));
        out += '.';
        out.append(d.digits + point, n - static_cast<std::size_t>(point));
    }
}

// "%.15g" prints 15 significant digits: a double whose shortest digits are
// no more prints those (they are the nearest 15-digit number to it).
constexpr std::size_t kPrintedDigits = 15;
// repr() is in fixed notation for decimal exponents below this.
constexpr int kReprFixedBelow = 16;

void append_hex_escape(std::string& out, const char* prefix, unsigned value, int digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += kHex[(value >> shift) & 0xF];
}

// A C0 or C1 control as repr() escapes it.
void append_control(std::string& out, unsigned c) {
    if (c == '\t') {
        out += "\\t";
    } else if (c == '\n') {
        out += "\\n";
    } else if (c == '\r') {
        out += "\\r";
    } else {
        append_hex_escape(out, "\\x", c, 2);
    }
}

}  // namespace

void append_plain_number(std::string& out, double value) {
    if (is_small_integer(value)) return append_integer(out, value);
    if (append_non_finite(out, value, false)) return;
    if (const ShortestDigits d = shortest_digits(value); d.count <= kPrintedDigits) {
        return append_digits(out, d, static_cast<int>(kPrintedDigits), false);
    }
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15).ptr;
    out.append(buffer, end);
}

void append_record_number(std::string& out, double value, bool json) {
    if (is_small_integer(value)) return append_integer(out, value);
    if (append_non_finite(out, value, json)) return;
    if (const ShortestDigits d = shortest_digits(value); d.count <= kPrintedDigits) {
        return append_digits(out, d, kReprFixedBelow, true);
    }
    // float(f"{value:.15g}"): the digits printed, read back.
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15).ptr;
    double rounded = value;
    std::from_chars(buffer, end, rounded);
    append_digits(out, shortest_digits(rounded), kReprFixedBelow, true);
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
        } else if (c < 0x20 || c == 0x7F) {
            append_control(out, c);
        } else {
            out += ch;
        }
    }
    out += quote;
}

void append_terminal_text(std::string& out, std::string_view text) {
    std::size_t plain = 0;  // start of the characters not yet written
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // C1 controls are U+0080 to U+009F: C2 80 to C2 9F in UTF-8.
        const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80;
        if (!c1 && c >= 0x20 && c != 0x7F) continue;
        out.append(text.data() + plain, i - plain);
        if (c1) ++i;
        append_control(out, static_cast<unsigned char>(text[i]));
        plain = i + 1;
    }
    out.append(text.data() + plain, text.size() - plain);
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
