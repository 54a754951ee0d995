// A compressed message as a wide table: one row per subset, one column per
// element occurrence (as the walk left them), its numbers in one array of
// subsets x columns (column after column) and what describes a column kept
// once per column, not once per value. Raw integers and code-table meanings
// are made only when asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "decode/decode_section4.hpp"
#include "message/message.hpp"
#include "sinks/growing_array.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

struct WideColumns {
    std::size_t subsets = 0;
    std::size_t columns = 0;
    GrowingArray<double> values;      // values[c * subsets + j]; NaN when missing, for texts and markers
    GrowingArray<std::uint64_t> raw;  // as values, when asked for: R0 where missing, 0 where no number
    std::vector<DescriptorCode> descriptor;
    std::vector<const std::string*> name;  // point into the tables
    std::vector<const std::string*> unit;  // the empty string where no Table B entry names the column
    std::vector<const std::string*> key;   // the empty string for none
    std::vector<std::uint32_t> rank;       // of the key among the columns, from 1; 0 when unranked
    std::vector<std::int32_t> scale;       // the power of ten the raw sum was divided by
    std::vector<std::uint8_t> numeric;     // 1 for a column of numbers
    // Character columns, each with one text per subset (shown without its
    // padding; absent where all its bytes are 0xFF).
    struct Texts {
        std::size_t column = 0;
        std::vector<std::string> texts;
        std::vector<std::uint8_t> present;
    };
    std::vector<Texts> texts;
    // When asked for with the raw integers: for each code or flag table
    // column, one code per subset into meaning_texts (-1 for none). The texts
    // are distinct and numbered as a long reading meets them: subset after
    // subset, column after column within one.
    struct Meanings {
        std::size_t column = 0;
        std::vector<std::int32_t> codes;
    };
    std::vector<Meanings> meanings;
    std::vector<const std::string*> meaning_texts;  // point into the tables
};

// The wide table of `message`, which must be compressed, decoded from
// `section4` with `tables` (which the names, units and keys point into). The
// numbers are unpacked with up to wide_threads() threads; `with_details`
// adds the raw integers and the meanings.
Result<WideColumns> decode_wide(const BufrMessage& message, const TableSet& tables, ByteView section4,
                                bool with_details);

}  // namespace skyrec
