// A message as a wide table: one row per subset, one column per element
// occurrence, its numbers in one array of subsets x columns (column after
// column) and what describes a column kept once per column, not once per
// value. A compressed message's table is laid out from its walked columns,
// the raw integers and code-table meanings only when asked for; an
// uncompressed message has one only when every subset holds the same
// descriptors in the same order, and its values come once, with every part.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/result.hpp"
#include "decode/decode_section4.hpp"
#include "message/message.hpp"
#include "sinks/element_categories.hpp"
#include "sinks/growing_array.hpp"
#include "sinks/subset_cursor.hpp"
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
    std::vector<std::int32_t> scale;       // compressed: the power of ten the raw sum was divided by
    // Character columns, each with one text per subset (shown without its
    // padding; absent where all its bytes are 0xFF).
    struct Texts {
        std::size_t column = 0;
        std::vector<std::string> texts;
        std::vector<std::uint8_t> present;
    };
    std::vector<Texts> texts;
    // When asked for with the raw integers: for each code or flag table
    // column, one code per subset into meaning_texts (-1 for none).
    struct Meanings {
        std::size_t column = 0;
        std::vector<std::int32_t> codes;
    };
    std::vector<Meanings> meanings;
    std::vector<const std::string*> meaning_texts;  // point into the tables
    // Uncompressed: true when the subsets differ, and the message has no table.
    bool subsets_differ = false;
};

// The parts of a wide table to lay out: what describes the columns (with the
// texts of the character columns), the numbers, and the raw integers with the
// meanings.
struct WideParts {
    bool table = true;
    bool numbers = true;
    bool details = false;
};

// Lays out the wide table of a message, the names, units and keys pointing
// into its tables. Compressed: the parts asked for, from the walked columns,
// the numbers unpacked with up to `threads` threads. Uncompressed:
// every part, the values placed as they come; the walk is stopped at the
// first value that does not match the first subset's.
class WideBuilder final : public Section4Sink {
public:
    WideBuilder(const TableSet& tables, WideParts parts, unsigned threads)
        : tables_(tables), parts_(parts), threads_(threads) {}
    // For the uncompressed data of `subsets` subsets.
    WideBuilder(const TableSet& tables, std::size_t subsets) : tables_(tables), parts_{true, true, true}, rows_(true) {
        out_.subsets = subsets;
    }

    // Walks section 4 `data` of `message` into the table.
    Status walk(const BufrMessage& message, ByteView data) { return subsets_.walk(message, tables_, data, *this); }
    // The table; for uncompressed data, once the walk is over.
    WideColumns take();

    Status take_values(std::vector<DecodedValue>& batch) override;
    Status take_columns(const CompressedSection& section) override;

private:
    // Names the next column, of `descriptor` named `name`.
    void describe(DescriptorCode descriptor, const std::string* name);
    void describe(const CompressedSection& section);
    void look_up_meanings(const CompressedSection& section);
    // The code of meaning `text` among the table's meaning_texts.
    std::int32_t meaning_code(const std::string* text);
    void read_texts(const CompressedSection& section);
    // Uncompressed data: subset 0's value `v` as column `c`.
    void add_column(const DecodedValue& v, std::size_t c);
    // The values laid out column after column, or subsets_differ set.
    void finish_rows();

    const TableSet& tables_;
    WideParts parts_;
    unsigned threads_ = 1;
    WideColumns out_;
    ElementCategories names_;
    KeyRanks ranks_;  // of subset 0, or of a compressed message's columns
    std::unordered_map<const std::string*, std::int32_t> meaning_codes_;
    // Uncompressed data: the values met, row after row, and the subset they are in.
    bool rows_ = false;
    SubsetCursor subsets_;
    std::vector<double> row_values_;
    std::vector<std::uint64_t> row_raws_;
    std::vector<std::int32_t> text_of_;     // per column: its index in out_.texts, or -1
    std::vector<std::int32_t> meaning_of_;  // per column: its index in out_.meanings, or -1
};

// The wide table of the message framed in `section4` (its data), decoded
// with `tables`: every part, subsets_differ set for an uncompressed message
// without one; a compressed one's numbers unpacked with up to `threads` threads.
Result<WideColumns> decode_wide(const BufrMessage& message, const TableSet& tables, ByteView section4,
                                unsigned threads);

}  // namespace skyrec
