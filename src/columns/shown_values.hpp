// Values as the package's outputs show them: a number only where the value
// is one (not for character data, whose internal string index means nothing
// to a reader, nor for operator markers), and texts without the NUL and
// blank padding that fills their fixed width.
#pragma once

#include <string>
#include <string_view>

#include "decode/decoded_value.hpp"

namespace skyrec {

// Character data has no raw integer; markers are named by the operator name.
inline bool shows_number(bool has_value, bool has_raw, const std::string* name) noexcept {
    return has_value && has_raw && name != &operator_name();
}

inline bool shows_raw(bool has_raw, const std::string* name) noexcept { return has_raw && name != &operator_name(); }

inline std::string_view shown_text(std::string_view text) noexcept {
    while (!text.empty() && (text.back() == '\0' || text.back() == ' '))
        text.remove_suffix(1);
    return text;
}

}  // namespace skyrec
