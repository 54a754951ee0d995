#include "tables/element_row.hpp"

#include <string>

#include "tables/field_conversions.hpp"

namespace skyrec {

Result<ElementDefinition> parse_element_row(const ElementRow& row) {
    auto code = parse_code_field(row.code);
    if (!code) return std::move(code).error();
    auto scale = parse_i32_field(row.scale);
    if (!scale) return std::move(scale).error();
    auto reference = parse_i64_field(row.reference);
    if (!reference) return std::move(reference).error();
    auto width = parse_u16_field(row.width);
    if (!width) return std::move(width).error();
    return ElementDefinition{
        .code = *code,
        .abbreviation = std::string(row.abbreviation),
        .element_type = std::string(row.element_type),
        .name = std::string(row.name),
        .unit = std::string(row.unit),
        .scale = *scale,
        .reference = *reference,
        .width = *width,
    };
}

}  // namespace skyrec
