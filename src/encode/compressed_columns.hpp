// Compressed data from the walk's plan: per field, R0 the least value, NBINC
// the bits of the largest difference (0 where every subset is equal), all
// ones for missing; texts whole when equal, else one per subset.
#pragma once

#include <vector>

#include "base/result.hpp"
#include "encode/bit_writer.hpp"
#include "encode/encode_walk.hpp"
#include "encode/slots.hpp"

namespace skyrec {

Status write_compressed(const std::vector<FieldPlan>& plan, const SlotSource& slots, const EncodeOptions& options,
                        BitWriter& writer);

}  // namespace skyrec
