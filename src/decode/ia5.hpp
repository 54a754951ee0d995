// Character data (CCITT IA5) as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "decode/owned_text.hpp"

namespace skyrec {

// Absent when there are no bytes or all are 0xFF (a missing string); else
// the bytes as they are, trailing blanks, tabs, line and page breaks
// removed. How bytes of 0x80 and above show is for each output to say.
OwnedText decode_ia5(const std::uint8_t* bytes, std::size_t n);

// The same text written to `out` (room for n characters), without an
// allocation: false when the text is absent.
bool ia5_into(const std::uint8_t* bytes, std::size_t n, char* out, std::string_view& text) noexcept;

}  // namespace skyrec
