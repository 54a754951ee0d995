// The key by which a value is asked for, as ecCodes users know it: the
// abbreviation of its element in ecCodes' element tables, or a fixed key for
// what no element names; and its rank, the count of its key so far in its
// subset ("#rank#key").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/descriptor.hpp"
#include "sinks/categories.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

struct ValueKey {
    const std::string* key = nullptr;  // the empty string when the tables give none
    bool ranked = false;               // markers, texts and associated fields go unranked
};

// Operator markers are "operator" (as ecCodes lists them), 205YYY texts
// "text", associated fields "associatedField"; an element the tables do not
// define, or whose tables have no abbreviations (WMO CSV), has no key.
ValueKey key_of(const TableSet& tables, DescriptorCode descriptor, const std::string* name);

// Keys numbered by content: entries of different tables may share a key.
class KeyNumbers {
public:
    std::int32_t number(std::string_view key) { return numbers_.code(key); }
    void clear() noexcept { numbers_.clear(); }

private:
    TextCategories numbers_;
};

// Counts of each key number within the current subset.
class KeyRanks {
public:
    // The rank of one more value of key number `key`; 0 for kNoCategory.
    std::uint32_t next(std::int32_t key) {
        if (key == kNoCategory) return 0;
        const auto k = static_cast<std::size_t>(key);
        if (k >= counts_.size()) counts_.resize(k + 1, 0);
        if (counts_[k] == 0) touched_.push_back(k);
        return ++counts_[k];
    }
    void restart() noexcept {
        for (const std::size_t k : touched_)
            counts_[k] = 0;
        touched_.clear();
    }

private:
    std::vector<std::uint32_t> counts_;
    std::vector<std::size_t> touched_;
};

}  // namespace skyrec
