#include "decode/unpack_section.hpp"

#include <algorithm>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

#include "base/interrupt.hpp"
#include "decode/column_kernel.hpp"

namespace skyrec {
namespace {

// Ordered from best to worst.
enum class Unpacked : char { ok, past_end, interrupted };

Unpacked unpack_columns(const CompressedSection& section, std::size_t first, std::size_t last, double* values,
                        std::uint64_t* raws) noexcept {
    const std::size_t subsets = section.subsets;
    for (std::size_t c = first; c < last; ++c) {
        // Only the calling thread has a check installed; helpers never stop.
        if ((c - first) % 64 == 0 && interrupt_requested()) return Unpacked::interrupted;
        const Column& column = section.columns[c];
        double* value = values == nullptr ? nullptr : values + c * subsets;
        std::uint64_t* raw = raws == nullptr ? nullptr : raws + c * subsets;
        if (column.kind != Column::Kind::Numeric) {
            if (value != nullptr) std::fill_n(value, subsets, std::numeric_limits<double>::quiet_NaN());
            if (raw != nullptr) std::fill_n(raw, subsets, 0);
        } else if (!column_within(column, section.data, subsets) ||
                   (value != nullptr && !unpack_values(column, section.data, subsets, value)) ||
                   (raw != nullptr && !unpack_raw(column, section.data, subsets, raw))) {
            return Unpacked::past_end;
        }
    }
    return Unpacked::ok;
}

Status status_of(Unpacked found) {
    if (found == Unpacked::interrupted) return interrupted_error();
    if (found == Unpacked::past_end) return BufrError::text("a column of section 4 lies past its end");
    return Ok{};
}

}  // namespace

Status unpack_section(const CompressedSection& section, double* values, std::uint64_t* raws, unsigned threads) {
    const std::size_t columns = section.columns.size();
    const std::size_t by_size = section.value_count() / kValuesPerThread;
    const std::size_t shares = std::min({std::size_t{threads}, by_size, columns});
    if (shares <= 1) return status_of(unpack_columns(section, 0, columns, values, raws));
    // Equal shares of columns: every column holds one value per subset.
    std::vector<Unpacked> found(shares, Unpacked::ok);
    const auto share = [&](std::size_t t) {
        found[t] = unpack_columns(section, columns * t / shares, columns * (t + 1) / shares, values, raws);
    };
    std::vector<std::thread> helpers;
    helpers.reserve(shares - 1);
    try {
        for (std::size_t t = 1; t < shares; ++t)
            helpers.emplace_back(share, t);
    } catch (const std::system_error&) {
        // No more threads to be had: this one does the shares left over.
        for (std::size_t t = helpers.size() + 1; t < shares; ++t)
            share(t);
    }
    share(0);
    for (std::thread& helper : helpers)
        helper.join();
    // The worst of the shares: a stop asked for, then a column past the end.
    return status_of(*std::max_element(found.begin(), found.end()));
}

}  // namespace skyrec
