#include "sinks/subset_cursor.hpp"

#include "base/limits.hpp"

namespace skyrec {

Status SubsetCursor::walk(const BufrMessage& message, const TableSet& tables, ByteView data, Section4Sink& sink) {
    subset_ = 0;
    seen_ = 0;
    return within_memory([&] { return decode_section4_into(message, tables, data, sink, &starts_); });
}

void SubsetCursor::start_columns(const CompressedSection& section) {
    subset_ = 0;
    seen_ = 0;
    starts_.clear();
    push_compressed_starts(section, starts_);
}

}  // namespace skyrec
