// The names of one message's values, numbered by the Table B entry (or fixed
// name) that each comes from, with that entry's unit and key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sinks/categories.hpp"
#include "sinks/value_keys.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

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

}  // namespace skyrec
