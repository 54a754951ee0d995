// The numbers of a compressed section as one table of subsets x columns,
// column after column (each column's values contiguous, as NumPy's Fortran
// order lays out a 2-D array): the layout that each column's unpacking fills
// in one run. Once the walk has placed every column, columns are independent,
// so a large section is split over threads.
#pragma once

#include <cstddef>

#include "decode/compressed_section.hpp"

namespace skyrec {

// Sections with fewer values than this are unpacked on the calling thread:
// starting threads would cost more than they save.
inline constexpr std::size_t kValuesPerThread = std::size_t{1} << 17;

// out[c * subsets + j] = the value of subset j in column c, as the package's
// outputs show it: the scaled number, NaN when missing and for character
// columns and operator markers. False when a column does not lie within the
// section's data (out is then partly written). A large section is split
// over up to `threads` threads (0 taken as 1).
bool unpack_section(const CompressedSection& section, double* out, unsigned threads);

}  // namespace skyrec
