#include "decode/column.hpp"

#include "decode/ia5.hpp"

namespace skyrec {

bool column_text(const Column& column, ByteView data, std::size_t j, char* out, std::string_view& text) noexcept {
    auto* bytes = reinterpret_cast<std::uint8_t*>(out);
    if (column.increment_width == 0) {
        bytes_at(data, column.position, column.text_width, bytes);
        return ia5_into(bytes, (column.text_width + 7) / 8, out, text);
    }
    const std::uint32_t n = column.increment_width;
    bytes_at(data, column.position + j * 8 * std::uint64_t{n}, 8 * n, bytes);
    // Each character is written over its own byte, after that byte is read.
    return ia5_into(bytes, n, out, text);
}

std::optional<double> column_value(const Column& column, ByteView data, std::size_t j) noexcept {
    switch (column.kind) {
        case Column::Kind::Marker:
            return 0.0;
        case Column::Kind::Character:
            return static_cast<double>(column.first_index + 1000 * std::uint64_t{j});
        case Column::Kind::Numeric:
            break;
    }
    const ColumnRaw r = column_raw(column, data, j);
    if (r.missing) return std::nullopt;
    return scaled_value(r.raw, column.reference, column.divisor);
}

}  // namespace skyrec
