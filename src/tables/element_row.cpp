#include "tables/element_row.hpp"

#include <string>

#include "tables/field_conversions.hpp"

namespace skyrec {

namespace {

std::string_view number_field(std::string_view text, NumberBlanks blanks) noexcept {
    if (blanks == NumberBlanks::Refused) return text;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

Result<ElementDefinition> parse_element_row(const ElementRow& row, NumberBlanks blanks) {
    auto code = parse_code_field(row.code);
    if (!code) return std::move(code).error();
    auto scale = parse_i32_field(number_field(row.scale, blanks));
    if (!scale) return std::move(scale).error();
    auto reference = parse_i64_field(number_field(row.reference, blanks));
    if (!reference) return std::move(reference).error();
    auto width = parse_u16_field(number_field(row.width, blanks));
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
