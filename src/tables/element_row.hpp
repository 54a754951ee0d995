// One Table B row, as text fields, turned into an element definition. Shared
// by the element.table reader and the WMO CSV loader.
#pragma once

#include <string_view>

#include "base/result.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Blanks around the numeric fields of an ecCodes element.table row: refused,
// as _skyrec's loaders are to refuse them; or ignored, as ecCodes reads its
// own tables (one of its local tables writes a width "3 "), which the
// package's loading does. Descriptor codes are trimmed either way.
enum class NumberBlanks : bool { Refused, Ignored };

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
Result<ElementDefinition> parse_element_row(const ElementRow& row, NumberBlanks blanks = NumberBlanks::Refused);

}  // namespace skyrec
