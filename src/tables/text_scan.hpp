// Scanning table text: Unicode white space, lines and whitespace-separated tokens.
#pragma once

#include <cstddef>
#include <string_view>

namespace skyrec {

// Unicode White_Space: U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
bool is_white_space(char32_t cp) noexcept;

// `text` without leading and trailing white space (`text` must be UTF-8).
std::string_view trim_white_space(std::string_view text) noexcept;

// Cuts the next line off `rest`: up to a line feed (dropped, with a carriage
// return right before it) or the end. False when `rest` is empty.
bool next_line(std::string_view& rest, std::string_view& line) noexcept;

// Cuts the next run of non-white-space off `rest`. False when none is left.
bool next_token(std::string_view& rest, std::string_view& token) noexcept;

}  // namespace skyrec
