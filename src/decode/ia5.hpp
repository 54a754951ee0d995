// Character data (CCITT IA5) as text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/owned_text.hpp"

namespace skyrec {

// Absent when there are no bytes or all are 0xFF (a missing string); else
// bytes of 0x80 and above become '?', every other byte stands for itself,
// and trailing blanks, tabs, line and page breaks are removed.
OwnedText decode_ia5(const std::uint8_t* bytes, std::size_t n);

}  // namespace skyrec
