// The values of many messages as one set of columns: each message is filled
// as fill_columns fills it, then its category codes are renumbered into lists
// shared by the whole block, merged by content so that equal texts get one
// code whichever message or table set they came from.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "columns/column_builder.hpp"
#include "decode/decoded_value.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Distinct texts numbered in the order first seen, owning copies of them: the
// block outlives the values and may outlive the tables they came from.
class OwnedCategories {
public:
    std::int32_t code(std::string_view text);
    const std::vector<std::string>& texts() const noexcept { return texts_; }
    // The texts, leaving the categories empty.
    std::vector<std::string> take();

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, std::int32_t, Hash, std::equal_to<>> codes_;
    std::vector<std::string> texts_;
};

// One message's columns, its codes already those of the block.
struct ColumnChunk {
    std::vector<DescriptorCode> descriptor;
    std::vector<double> value;  // NaN when missing
    std::vector<std::uint64_t> raw;
    std::vector<std::uint8_t> raw_present;
    std::vector<std::uint32_t> subset;
    std::vector<std::int32_t> element;  // into element_names and element_units alike
    std::vector<std::int32_t> text;     // into texts, or kNoCategory
    std::vector<std::int32_t> meaning;  // into meanings, or kNoCategory

    explicit ColumnChunk(std::size_t count);
    ColumnArrays arrays() noexcept;
};

// The block's columns, kept per message until copied out: nothing is copied
// as the block grows.
struct BlockColumns {
    std::vector<ColumnChunk> chunks;
    std::size_t count = 0;
    std::vector<std::string> element_names;
    std::vector<std::string> element_units;
    std::vector<std::string> texts;
    std::vector<std::string> meanings;

    std::size_t size() const noexcept { return count; }
    // Writes every value, chunk after chunk, to `out` (size() elements each).
    void copy_to(const ColumnArrays& out) const;
};

class BlockBuilder {
public:
    // Appends one message's values (subsets starting at `subset_starts`, as
    // decode_section4 reports them) after those already added.
    void append(const TableSet& tables, std::span<const DecodedValue> values,
                std::span<const std::size_t> subset_starts);

    // The columns so far, with their category lists; the builder is left empty.
    BlockColumns take();

private:
    BlockColumns columns_;
    OwnedCategories elements_;  // keyed by name and unit together
    OwnedCategories texts_;
    OwnedCategories meanings_;
};

}  // namespace skyrec
