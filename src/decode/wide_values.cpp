#include "decode/wide_values.hpp"

#include <algorithm>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

#include "decode/column_kernel.hpp"

namespace skyrec {
namespace {

bool unpack_columns(const CompressedSection& section, std::size_t first, std::size_t last, double* out) noexcept {
    const std::size_t subsets = section.subsets;
    for (std::size_t c = first; c < last; ++c) {
        double* to = out + c * subsets;
        const Column& column = section.columns[c];
        if (column.kind != Column::Kind::Numeric) {
            std::fill_n(to, subsets, std::numeric_limits<double>::quiet_NaN());
        } else if (!unpack_values(column, section.data, subsets, to)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool unpack_section(const CompressedSection& section, double* out, unsigned most) {
    const std::size_t columns = section.columns.size();
    const std::size_t by_size = section.value_count() / kValuesPerThread;
    const std::size_t threads = std::min({std::size_t{most}, by_size, columns});
    if (threads <= 1) return unpack_columns(section, 0, columns, out);
    // Equal shares of columns: every column holds one value per subset.
    std::vector<char> ok(threads, 1);
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    const auto share = [&](std::size_t t) {
        ok[t] = unpack_columns(section, columns * t / threads, columns * (t + 1) / threads, out) ? 1 : 0;
    };
    try {
        for (std::size_t t = 1; t < threads; ++t)
            helpers.emplace_back(share, t);
    } catch (const std::system_error&) {
        // No more threads to be had: this one does the shares left over.
        for (std::size_t t = helpers.size() + 1; t < threads; ++t)
            share(t);
    }
    share(0);
    for (std::thread& helper : helpers)
        helper.join();
    return std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; });
}

}  // namespace skyrec
