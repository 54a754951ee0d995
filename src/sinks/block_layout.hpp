// Laying out a block's columns once its messages are in: compressed runs
// written row by row, code columns narrowed to the bytes their categories
// need.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sinks/block_columns.hpp"

namespace skyrec {

// Writes `rows` x `columns` items held a column after another as rows, in
// tiles small enough to stay in the first level cache, so that both the
// reads and the writes go along whole cache lines.
template <class T>
void transpose(const T* in, std::size_t rows, std::size_t columns, T* out) noexcept {
    constexpr std::size_t kTile = 8;
    for (std::size_t k0 = 0; k0 < columns; k0 += kTile) {
        const std::size_t k1 = std::min(columns, k0 + kTile);
        for (std::size_t j = 0; j < rows; ++j) {
            T* row = out + j * columns;
            for (std::size_t k = k0; k < k1; ++k)
                row[k] = in[k * rows + j];
        }
    }
}

enum class CodeColumn { file, name, unit, text, meaning, key };

// One code column at items of `width` bytes (1, 2 or 4), the runs' rows
// written whole.
void lay_out_column(GrowingArray<std::int32_t>& codes, std::size_t count, const std::vector<CompressedRun>& runs,
                    CodeColumn which, std::size_t width);

}  // namespace skyrec
