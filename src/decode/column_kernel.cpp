#include "decode/column_kernel.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "decode/scaling.hpp"

namespace skyrec {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A field of up to 57 bits with its first bit anywhere in a byte fits in the
// eight bytes loaded from that byte on.
constexpr std::uint32_t kOneLoadWidth = 57;

// Calls take(j, increment) for each subset j < subsets. Fields whose eight
// bytes lie within the data take one load each; the rest (the last few, and
// every field of a column wider than kOneLoadWidth) go through bits_at.
template <class Take>
void for_each_increment(const Column& column, ByteView data, std::size_t subsets, Take&& take) noexcept {
    const std::uint32_t width = column.increment_width;
    std::size_t fast = 0;
    if (width <= kOneLoadWidth && data.size >= 8) {
        // Field j may take one load while its first byte is at most size - 8.
        const std::uint64_t last_start = (data.size - 8) * 8 + 7;
        if (column.position <= last_start)
            fast = std::min<std::uint64_t>(subsets, (last_start - column.position) / width + 1);
    }
    const unsigned drop = 64 - width;
    const std::uint8_t* bytes = data.data;
    std::uint64_t position = column.position;
    for (std::size_t j = 0; j < fast; ++j, position += width) {
        std::uint64_t word;
        std::memcpy(&word, bytes + (position >> 3), 8);
        take(j, (__builtin_bswap64(word) << (position & 7)) >> drop);
    }
    for (std::size_t j = fast; j < subsets; ++j, position += width)
        take(j, bits_at(data, position, width));
}

// Whether every base + increment + reference of the column is formed exactly
// in int64, so scaled_value's overflow test can be left out of the loop.
bool sums_fit(const Column& column) noexcept {
    const std::uint64_t top = all_ones(column.increment_width);
    std::uint64_t high;
    std::int64_t sum;
    return !__builtin_add_overflow(column.base, top, &high) &&
           high <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) &&
           !__builtin_add_overflow(static_cast<std::int64_t>(high), column.reference, &sum);
}

// kDivide false: the divisor is 1, and x / 1.0 is x.
template <bool kMissingRecognised, bool kFits, bool kDivide = true>
void unpack_numbers(const Column& column, ByteView data, std::size_t subsets, double* out) noexcept {
    const std::uint64_t ones = all_ones(column.increment_width);
    const std::uint64_t base = column.base;
    const std::int64_t reference = column.reference;
    const double divisor = column.divisor;
    for_each_increment(column, data, subsets, [&](std::size_t j, std::uint64_t increment) {
        double value;
        if constexpr (kFits && !kDivide) {
            value = static_cast<double>(static_cast<std::int64_t>(base + increment) + reference);
        } else if constexpr (kFits) {
            value = static_cast<double>(static_cast<std::int64_t>(base + increment) + reference) / divisor;
        } else {
            value = scaled_value(base + increment, reference, divisor);
        }
        if constexpr (kMissingRecognised) value = increment == ones ? kNaN : value;
        out[j] = value;
    });
}

}  // namespace

bool column_within(const Column& column, ByteView data, std::size_t subsets) noexcept {
    const std::uint64_t bits = data.size * 8;
    if (column.kind != Column::Kind::Numeric || column.increment_width == 0) return column.position <= bits;
    return column.position <= bits && (bits - column.position) / column.increment_width >= subsets;
}

bool unpack_values(const Column& column, ByteView data, std::size_t subsets, double* out) noexcept {
    if (!column_within(column, data, subsets)) return false;
    if (column.base_missing) {
        std::fill_n(out, subsets, kNaN);
    } else if (column.increment_width == 0) {
        std::fill_n(out, subsets, scaled_value(column.base, column.reference, column.divisor));
    } else if (sums_fit(column) && column.divisor == 1.0) {
        if (column.missing_recognised) {
            unpack_numbers<true, true, false>(column, data, subsets, out);
        } else {
            unpack_numbers<false, true, false>(column, data, subsets, out);
        }
    } else if (sums_fit(column)) {
        if (column.missing_recognised) {
            unpack_numbers<true, true>(column, data, subsets, out);
        } else {
            unpack_numbers<false, true>(column, data, subsets, out);
        }
    } else if (column.missing_recognised) {
        unpack_numbers<true, false>(column, data, subsets, out);
    } else {
        unpack_numbers<false, false>(column, data, subsets, out);
    }
    return true;
}

bool unpack_raw(const Column& column, ByteView data, std::size_t subsets, std::uint64_t* raw) noexcept {
    if (!column_within(column, data, subsets)) return false;
    if (column.increment_width == 0 || column.base_missing) {
        std::fill_n(raw, subsets, column.base);
        return true;
    }
    const std::uint64_t ones = all_ones(column.increment_width);
    const std::uint64_t base = column.base;
    const bool recognised = column.missing_recognised;
    for_each_increment(column, data, subsets, [&](std::size_t j, std::uint64_t increment) {
        raw[j] = recognised && increment == ones ? base : base + increment;
    });
    return true;
}

}  // namespace skyrec
