// Texts and 203YYY references as bits.
#pragma once

#include <cstdint>

#include "base/result.hpp"
#include "encode/bit_writer.hpp"
#include "encode/encode_walk.hpp"

namespace skyrec {

// Writes `width` bits of `bytes`: whole bytes, then the high bits of the last.
inline void write_text_field(BitWriter& writer, const std::uint8_t* bytes, std::uint32_t width) {
    writer.write_bytes(bytes, width / 8);
    if (width % 8 != 0) writer.write(width % 8, std::uint64_t{bytes[width / 8]} >> (8 - width % 8));
}

// A reference for 203YYY in its sign-and-magnitude bits, or the refusal.
Result<std::uint64_t> reference_bits(const Slot& slot, const FieldPlan& field, std::size_t subset);

}  // namespace skyrec
