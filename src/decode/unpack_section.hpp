// The numbers and raw integers of a compressed section as tables of subsets
// x columns, column after column (each column's values contiguous, as NumPy's
// Fortran order lays out a 2-D array): the layout that each column's
// unpacking fills in one run. Once the walk has placed every column, columns
// are independent, so a large section may be split over threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/result.hpp"
#include "decode/compressed_section.hpp"

namespace skyrec {

// Sections with fewer values than this are unpacked on the calling thread:
// starting threads would cost more than they save.
inline constexpr std::size_t kValuesPerThread = std::size_t{1} << 17;

// values[c * subsets + j] = the value of subset j in column c, as the
// package's outputs show it: the scaled number, NaN when missing and for
// character columns and operator markers; raws[c * subsets + j] = its raw
// integer (R0 where missing, 0 where no number). Either may be null, for
// not wanted. An error when a column does not lie within the section's data
// (the tables are then partly written) or the caller asked to stop; up to
// `threads` threads share the columns (0 taken as 1).
Status unpack_section(const CompressedSection& section, double* values, std::uint64_t* raws, unsigned threads);

}  // namespace skyrec
