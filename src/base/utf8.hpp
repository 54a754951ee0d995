// UTF-8 validation and decoding, with the rules of strict decoders: no
// overlong forms, no surrogates, nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace skyrec {

// The length in bytes of the longest valid UTF-8 prefix of `text`.
std::size_t valid_utf8_prefix(std::string_view text) noexcept;

inline bool is_valid_utf8(std::string_view text) noexcept { return valid_utf8_prefix(text) == text.size(); }

// Decodes the code point starting at `pos` and advances `pos` past it. An
// invalid or truncated sequence gives U+FFFD and advances past its longest
// start that could have been valid (at least one byte).
char32_t next_code_point(std::string_view text, std::size_t& pos) noexcept;

// Appends the UTF-8 encoding of `cp` (a scalar value).
void append_utf8(std::string& out, char32_t cp);

// `text` with every invalid sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view text);

}  // namespace skyrec
