// What every sink of the walk shares: where each subset of the message
// starts, the subset of each value as the values come, and out of memory as
// the message's status rather than an exception.
#pragma once

#include <cstdint>
#include <vector>

#include "base/bytes.hpp"
#include "base/limits.hpp"
#include "base/result.hpp"
#include "decode/decode_section4.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

class SubsetCursor {
public:
    // Walks section 4 `data` of `message` into `sink`, the starts filled as
    // the walk meets them (before any value of their subset); the cursor
    // begins again at the first value.
    Status walk(const BufrMessage& message, const TableSet& tables, ByteView data, Section4Sink& sink) {
        subset_ = 0;
        seen_ = 0;
        return within_memory([&] { return decode_section4_into(message, tables, data, sink, &starts_); });
    }
    // The starts of compressed columns taken without a walk.
    void start_columns(const CompressedSection& section) {
        subset_ = 0;
        seen_ = 0;
        starts_.clear();
        push_compressed_starts(section, starts_);
    }

    // The subset of the next value, calling `leave()` for each subset it leaves behind.
    template <class Leave>
    std::uint32_t next(Leave&& leave) {
        const std::size_t position = seen_++;
        while (subset_ + 1 < starts_.size() && starts_[subset_ + 1] <= position) {
            leave();
            ++subset_;
        }
        return subset_;
    }
    std::uint32_t next() {
        return next([] {});
    }

    std::uint32_t subset() const noexcept { return subset_; }
    // Where the last value stands in its subset, from 0.
    std::size_t offset() const noexcept { return seen_ - 1 - starts_[subset_]; }
    // Where each subset starts, counted in the message's values.
    const std::vector<std::size_t>& starts() const noexcept { return starts_; }

private:
    std::vector<std::size_t> starts_;
    std::uint32_t subset_ = 0;
    std::size_t seen_ = 0;
};

}  // namespace skyrec
