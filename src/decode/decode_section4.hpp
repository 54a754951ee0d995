// The decoder entry: section 4 of one framed message into its values.
#pragma once

#include <vector>

#include "base/bytes.hpp"
#include "base/result.hpp"
#include "decode/compressed_section.hpp"
#include "decode/decoded_value.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// A first guess at the number of uncompressed values in `bits` of section 4
// data, to spare most regrowth.
std::size_t expected_values(std::uint64_t bits);

// Decodes `data` (the message's section 4 data bytes) with `tables`: subset
// after subset, each subset's values in the order read, compressed or not.
// The values' names and meanings point into `tables`, which must outlive them.
// When `subset_starts` is given, it receives the index of each subset's first
// value, one per subset in order (the flat list does not mark them otherwise:
// uncompressed subsets differ in length when delayed replications do).
// With `capture`, it also receives the texts' bytes and the defined
// references (walker.hpp), for writing the message again.
struct RawCapture;
Result<std::vector<DecodedValue>> decode_section4(const BufrMessage& message, const TableSet& tables, ByteView data,
                                                  std::vector<std::size_t>* subset_starts = nullptr,
                                                  RawCapture* capture = nullptr);

// Takes the values of a decode as they are made, for callers that turn them
// into something else and need not hold them all as records. A sink's error
// (a bound it keeps, data it cannot place) ends the decode and is its error.
class Section4Sink {
public:
    virtual ~Section4Sink() = default;
    // Uncompressed data: the next values in order, a batch at a time; the
    // sink may move from them.
    virtual Status take_values(std::vector<DecodedValue>& batch) = 0;
    // Compressed data: every column, once the walk has read them all; the
    // section borrows `data` and `tables`.
    virtual Status take_columns(const CompressedSection& section) = 0;
    // Whether values are read as the package's outputs show them: an
    // all-ones 031021 (associated field significance) is then missing, as
    // ecCodes reads it, where the flat list keeps it as a number.
    virtual bool shows_values() const noexcept { return true; }
};

// What a sink returns when its output (a host's callback) failed with an
// error of the host's own, which the host raises instead.
inline BufrError stopped_by_sink() { return BufrError::text("decoding stopped by its output"); }

// decode_section4 that hands its values to `sink` instead of returning them.
// The first error, the walk's or the sink's, ends the decode, possibly after
// some batches were taken. `subset_starts`, when given, is filled as decode_section4
// fills it; for uncompressed data each start is there before the sink takes
// a value of its subset. `cache`, when given, is the element cache that a
// caller keeps for many decodes with `tables` (decode/element_ref.hpp), made
// with shown set as the sink's shows_values(); another is used as none.
class ElementCache;
Status decode_section4_into(const BufrMessage& message, const TableSet& tables, ByteView data, Section4Sink& sink,
                            std::vector<std::size_t>* subset_starts = nullptr, ElementCache* cache = nullptr);

// The columns of compressed `data` as the walk leaves them, read as the
// package's outputs show values (see Section4Sink::shows_values), for a
// caller that lays them out later, perhaps several ways; the section borrows
// `data` and `tables`.
Result<CompressedSection> walk_columns(const BufrMessage& message, const TableSet& tables, ByteView data);

// Appends where each subset of `section` starts: one value per column each.
void push_compressed_starts(const CompressedSection& section, std::vector<std::size_t>& starts);

// Walks uncompressed `data` as decode_section4 does, handing every field
// read to `copy` (decode/field_copy.hpp) and keeping no values.
class FieldCopy;
Status copy_section4(const BufrMessage& message, const TableSet& tables, ByteView data, FieldCopy& copy);

}  // namespace skyrec
