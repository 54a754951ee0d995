// Decoded values as columns: one array per field, filled in one pass over the
// decoder's records, with names, units, texts and meanings as category codes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "columns/categories.hpp"
#include "columns/value_keys.hpp"
#include "decode/decoded_value.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Where the columns go: each array holds one element per value.
struct ColumnArrays {
    DescriptorCode* descriptor = nullptr;
    double* value = nullptr;              // NaN when missing
    std::uint64_t* raw = nullptr;         // 0 when absent
    std::uint8_t* raw_present = nullptr;  // 1 when `raw` holds a value
    std::uint32_t* subset = nullptr;      // 0-based
    std::int32_t* element = nullptr;      // into element_names / element_units
    std::int32_t* text = nullptr;         // into texts, or kNoCategory
    std::int32_t* meaning = nullptr;      // into meanings, or kNoCategory
    std::uint32_t* rank = nullptr;        // of the value's key in its subset, from 1; 0 when unranked
};

// The category lists that the codes of one fill point into. Names, units and
// meanings point into the TableSet; texts into the decoded values.
struct ColumnCategories {
    std::vector<const std::string*> element_names;
    std::vector<const std::string*> element_units;  // the empty string for non-Table B values
    std::vector<const std::string*> element_keys;   // one per name, the empty string for none
    std::vector<const std::string*> meanings;
    std::vector<std::string_view> texts;
};

// The unit of the Table B entry that named a value (values that a bitmap
// refers back to carry that entry's descriptor too); values that no entry
// names (associated fields, operators, inserted text) have the empty unit.
const std::string* unit_of(const TableSet& tables, DescriptorCode descriptor, const std::string* name);

// Names of values by address (see PointerCategories), with the unit and key
// of each name taken on its first sight: they are properties of the entry
// that the name belongs to, so they are looked up once per name, not once per
// value.
class ElementCategories {
public:
    std::int32_t code(const TableSet& tables, DescriptorCode descriptor, const std::string* name) {
        const std::size_t known = names_.texts().size();
        const std::int32_t code = names_.code(name);
        if (names_.texts().size() != known) {
            units_.push_back(unit_of(tables, descriptor, name));
            const ValueKey key = key_of(tables, descriptor, name);
            keys_.push_back(key.key);
            key_numbers_.push_back(key.ranked ? numbers_.number(*key.key) : kNoCategory);
        }
        return code;
    }
    const std::vector<const std::string*>& names() const noexcept { return names_.texts(); }
    const std::vector<const std::string*>& units() const noexcept { return units_; }  // one per name
    const std::vector<const std::string*>& keys() const noexcept { return keys_; }    // one per name
    // The number of the key of name `code` among the ranked keys, or kNoCategory.
    std::int32_t key_number(std::int32_t code) const noexcept { return key_numbers_[static_cast<std::size_t>(code)]; }
    void clear() noexcept {
        names_.clear();
        units_.clear();
        keys_.clear();
        key_numbers_.clear();
        numbers_.clear();
    }

private:
    PointerCategories names_;
    std::vector<const std::string*> units_;
    std::vector<const std::string*> keys_;
    std::vector<std::int32_t> key_numbers_;
    KeyNumbers numbers_;
};

// Fills `out` from `values`, whose subsets start at `subset_starts` (as
// decode_section4 reports them), and returns the categories.
ColumnCategories fill_columns(const TableSet& tables, std::span<const DecodedValue> values,
                              std::span<const std::size_t> subset_starts, const ColumnArrays& out);

}  // namespace skyrec
