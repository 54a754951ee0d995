// The fixed octets of section 1, whose layout differs by edition, mapped onto
// one set of header fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "message/message.hpp"

namespace skyrec {

// Where section 1's layout puts the flags octet, and the buffer length needed
// to hold every fixed octet, for an edition that framing accepts.
struct Section1Layout {
    std::size_t flags_offset;
    std::size_t fixed_end;
};

Section1Layout section1_layout(std::uint8_t edition) noexcept;

// Fills the section 1 fields of `m` from message bytes `p`, which hold at
// least `section1_layout(edition).fixed_end` octets. Editions 2 and 3 lack the
// international sub-category (255) and the second (0), and carry the year of
// century, read as 2000 plus it; edition 2 has a 16-bit centre and no
// sub-centre (0).
void read_section1(const std::uint8_t* p, std::uint8_t edition, BufrMessage& m) noexcept;

// Writes the fields of `m` into `section`, section 1 of its edition (from
// its first octet; room for fixed_end - 8 octets), as read_section1 reads
// them; the length and flags octets are left as they are.
void write_section1(std::uint8_t* section, const BufrMessage& m) noexcept;

}  // namespace skyrec
