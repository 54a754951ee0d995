// One Table B row, as text fields, turned into an element definition. Shared
// by the element.table reader and the WMO CSV loader.
#pragma once

#include <string_view>

#include "base/result.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

struct ElementRow {
    std::string_view code;
    std::string_view abbreviation;
    std::string_view element_type;
    std::string_view name;
    std::string_view unit;
    std::string_view scale;
    std::string_view reference;
    std::string_view width;
};

// Converts code, scale, reference and width in that order; the first failure
// is the error. Texts are copied as they are.
Result<ElementDefinition> parse_element_row(const ElementRow& row);

}  // namespace skyrec
