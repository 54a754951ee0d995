#include "tables/csv_reader.hpp"
#include "tables/eccodes_tables.hpp"
#include "tables/field_conversions.hpp"

namespace skyrec {

Status read_element_table(TableSet& tables, const std::string& path) {
    auto reader = CsvTableReader::open(path, CsvDialect::ElementTable);
    if (!reader) return std::move(reader).error();
    CsvRecord record;
    for (;;) {
        auto more = reader->next(record);
        if (!more) return std::move(more).error();
        if (!*more) return Ok{};
        // Shorter rows carry no width and are passed over; fields past the
        // eighth hold CREX columns, not read.
        if (record.field_count() < 8) continue;
        auto code = parse_code_field(record.field(0));
        if (!code) return std::move(code).error();
        auto scale = parse_i32_field(record.field(5));
        if (!scale) return std::move(scale).error();
        auto reference = parse_i64_field(record.field(6));
        if (!reference) return std::move(reference).error();
        auto width = parse_u16_field(record.field(7));
        if (!width) return std::move(width).error();
        tables.insert_element(ElementDefinition{
            .code = *code,
            .abbreviation = std::string(record.field(1)),
            .element_type = std::string(record.field(2)),
            .name = std::string(record.field(3)),
            .unit = std::string(record.field(4)),
            .scale = *scale,
            .reference = *reference,
            .width = *width,
        });
    }
}

}  // namespace skyrec
