// One column of compressed data: an element occurrence, operator marker or
// associated field, with one value per subset. The walk records where the
// column's increments lie in section 4; its values are read from there when
// the result is laid out, subset after subset, so that no value is stored
// twice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/bytes.hpp"
#include "base/descriptor.hpp"
#include "bitstream/bit_reader.hpp"
#include "decode/scaling.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

struct Column {
    enum class Kind : std::uint8_t { Numeric, Character, Marker };

    Kind kind = Kind::Marker;
    bool missing_recognised = false;   // numeric: all-ones increments are missing
    bool base_missing = false;         // numeric: R0 is all ones, so every subset is missing
    std::uint8_t increment_width = 0;  // NBINC: bits per subset (numeric) or bytes per subset (character)
    std::uint32_t text_width = 0;      // character: bits of R0
    DescriptorCode code = 0;
    const std::string* name = nullptr;
    const CodeTable* codes = nullptr;  // numeric: nullptr when the element has no code table
    const TableSet* flags = nullptr;   // numeric flag table: where its set-bits meanings are kept
    std::uint16_t flag_width = 0;      // and the width its bits are numbered in
    std::uint64_t base = 0;            // numeric: R0
    // Bit of subset 0's increment; for character data with NBINC = 0, the
    // bit where R0 starts.
    std::uint64_t position = 0;
    std::int64_t reference = 0;
    double divisor = 1.0;
    std::uint64_t first_index = 0;  // character: the value of subset 0; each later subset adds 1000
};

// The raw integer of subset `j` of a numeric column, and whether it is missing.
struct ColumnRaw {
    std::uint64_t raw;
    bool missing;
};

inline ColumnRaw column_raw(const Column& column, ByteView data, std::size_t j) noexcept {
    if (column.increment_width == 0) return {column.base, column.base_missing};
    const std::uint32_t width = column.increment_width;
    const std::uint64_t increment = bits_at(data, column.position + j * width, width);
    if (column.base_missing || (column.missing_recognised && increment == all_ones(width))) {
        return {column.base, true};
    }
    return {column.base + increment, false};
}

// The text of subset `j` of a character column, written to `out` (room for
// column_text_capacity bytes); false when absent.
bool column_text(const Column& column, ByteView data, std::size_t j, char* out, std::string_view& text) noexcept;

inline std::size_t column_text_capacity(const Column& column) noexcept {
    return column.increment_width != 0 ? column.increment_width : (column.text_width + 7) / 8;
}

// The meaning of `raw` in a column with a code or flag table; nullptr for none.
inline const std::string* column_meaning(const Column& column, std::uint64_t raw) {
    if (column.flags != nullptr) return column.flags->flag_meaning(column.code, column.flag_width, raw);
    const auto it = column.codes->find(raw);
    return it == column.codes->end() ? nullptr : &it->second;
}

// The scaled value of subset `j`, as the walk needs it for replication
// factors and bitmap entries.
std::optional<double> column_value(const Column& column, ByteView data, std::size_t j) noexcept;

}  // namespace skyrec
