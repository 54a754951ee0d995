// One column of compressed data unpacked whole into a contiguous array of one
// item per subset: the increments are taken from 64-bit words by shift and
// mask, and what does not vary from value to value (the width, whether
// all-ones means missing, the reference, the scale, whether the sum can
// overflow) is settled once per column. The values equal column_raw and
// scaled_value bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.hpp"
#include "decode/column.hpp"

namespace skyrec {

// Whether the increments of `column` (one per subset) lie within `data`: the
// one bounds check that the loops below rely on.
bool column_within(const Column& column, ByteView data, std::size_t subsets) noexcept;

// out[j] = the scaled value of subset j of numeric column `column`, NaN
// when missing; false, writing nothing, when the column does not lie within
// `data`.
bool unpack_values(const Column& column, ByteView data, std::size_t subsets, double* out) noexcept;

// raw[j] = the raw integer of subset j (R0 when missing, as column_raw);
// false when the column does not lie within `data`.
bool unpack_raw(const Column& column, ByteView data, std::size_t subsets, std::uint64_t* raw) noexcept;

}  // namespace skyrec
