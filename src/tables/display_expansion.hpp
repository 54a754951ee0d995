// Expanding descriptor lists through Table D into the flat list they stand
// for, for display and inspection (the decoder walks on its own).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "base/descriptor.hpp"
#include "base/result.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Sequences are replaced by their members, fixed replications unrolled,
// delayed replications laid out once (factor descriptor first), 2-01, 2-02,
// 2-04, 2-06, 2-07 and 2-08 operators dropped, and every element after
// 2-04-YYY (Y > 0) outside class 31 preceded by kAssociatedFieldCode.
// Elements are not looked up. Nested fixed replications multiply, so a walk
// visiting more descriptors than base/limits.hpp allows (markers count)
// is refused.
Result<std::vector<DescriptorCode>> expand_descriptors(const TableSet& tables,
                                                       std::span<const DescriptorCode> descriptors);

}  // namespace skyrec
