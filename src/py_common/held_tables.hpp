// A TableSet as its Python object holds it: the tables, and what decoding
// with them into DecodedValue objects keeps from one call to the next (the
// element entries and the str of each name and meaning), so that a small
// message does not pay for setting them up again.
#pragma once

#include <memory>

#include "decode/element_ref.hpp"
#include "py_common/shared_strings.hpp"
#include "tables/table_set.hpp"

namespace skyrec::py {

// Only ever added to, so a decode run inside another (by a signal handler
// called from the first one's interrupt check) may share it.
struct ValueListCache {
    explicit ValueListCache(const TableSet& tables) : elements(tables, false) {}
    ElementCache elements;  // read as the flat list reads values (see ValueListBuilder::shows_values)
    SharedStrings strings;
};

struct HeldTables {
    TableSet tables;
    std::unique_ptr<ValueListCache> value_cache;

    // Made by the first decode; it refers to `tables`, which stay in place
    // inside their Python object from then on.
    ValueListCache& value_list_cache() {
        if (!value_cache) value_cache = std::make_unique<ValueListCache>(tables);
        return *value_cache;
    }
};

}  // namespace skyrec::py
