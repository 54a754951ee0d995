// The decoder entry: section 4 of one framed message into its values.
#pragma once

#include <vector>

#include "decode/decoded_value.hpp"
#include "message/bytes.hpp"
#include "message/message.hpp"
#include "message/result.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Decodes `data` (the message's section 4 data bytes) with `tables`: subset
// after subset, each subset's values in the order read, compressed or not.
// The values' names and meanings point into `tables`, which must outlive them.
// When `subset_starts` is given, it receives the index of each subset's first
// value, one per subset in order (the flat list does not mark them otherwise:
// uncompressed subsets differ in length when delayed replications do).
Result<std::vector<DecodedValue>> decode_section4(const BufrMessage& message, const TableSet& tables, ByteView data,
                                                  std::vector<std::size_t>* subset_starts = nullptr);

}  // namespace skyrec
