// Values as the package's outputs show them: a number only where the value
// is one (not for character data, whose internal string index means nothing
// to a reader, nor for operator markers), and texts without the NUL and
// blank padding that fills their fixed width, every byte kept: UTF-8 where
// the bytes are valid UTF-8 (a station name written so), otherwise each byte
// as its Latin-1 character (the older national character sets).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "base/utf8.hpp"
#include "decode/column.hpp"
#include "decode/decoded_value.hpp"
#include "sinks/categories.hpp"

namespace skyrec {

// Character data has no raw integer; markers are named by the operator name.
template <class Value>
bool shows_raw(const Value& v) noexcept {
    return v.has_raw && v.name != &operator_name();
}

template <class Value>
bool shows_number(const Value& v) noexcept {
    return v.has_value && shows_raw(v);
}

// The number of `v`, NaN where it shows none (missing, character data, markers).
template <class Value>
double shown_number(const Value& v) noexcept {
    return shows_number(v) ? v.value : std::numeric_limits<double>::quiet_NaN();
}

// A missing value has no meaning, whatever raw value a compressed one shows.
template <class Value>
const std::string* shown_meaning(const Value& v) noexcept {
    return v.has_value ? v.meaning : nullptr;
}

// The code of the last meaning looked up in a column of compressed data:
// most columns repeat their raw values from subset to subset, and a lookup
// is a hash probe or a walk over set bits.
class MeaningMemo {
public:
    // code_of(meaning) for the meaning of `raw` in `column`, kNoCategory for
    // none and where `value` is missing: a missing value has no meaning (nor
    // set bits), whatever raw a compressed one shows.
    template <class Code>
    std::int32_t code(const Column& column, double value, std::uint64_t raw, Code&& code_of) {
        if (std::isnan(value)) return kNoCategory;
        if (!valid_ || raw_ != raw) {
            const std::string* meaning = column_meaning(column, raw);
            code_ = meaning != nullptr ? code_of(meaning) : kNoCategory;
            raw_ = raw;
            valid_ = true;
        }
        return code_;
    }

private:
    std::uint64_t raw_ = 0;
    std::int32_t code_ = kNoCategory;
    bool valid_ = false;
};

// The view stays valid until the thread's next call: every caller copies
// the text (into its categories or records) before the next one.
inline std::string_view shown_text(std::string_view text) {
    while (!text.empty() && (text.back() == '\0' || text.back() == ' '))
        text.remove_suffix(1);
    if (is_valid_utf8(text)) return text;
    thread_local std::string latin1;
    latin1.clear();
    for (const char c : text)
        append_utf8(latin1, static_cast<unsigned char>(c));
    return latin1;
}

}  // namespace skyrec
