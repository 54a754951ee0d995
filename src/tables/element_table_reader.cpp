#include "tables/csv_reader.hpp"
#include "tables/eccodes_tables.hpp"
#include "tables/element_row.hpp"
#include "tables/text_file.hpp"

namespace skyrec {

Status parse_element_table(TableSet& tables, std::string_view bytes, NumberBlanks blanks) {
    return for_each_record(bytes, CsvDialect::ElementTable, [&](const CsvRecord& record) -> Status {
        // Shorter rows carry no width and are passed over; fields past the
        // eighth hold CREX columns, not read.
        if (record.field_count() < 8) return Ok{};
        auto element = parse_element_row(
            {
                .code = record.field(0),
                .abbreviation = record.field(1),
                .element_type = record.field(2),
                .name = record.field(3),
                .unit = record.field(4),
                .scale = record.field(5),
                .reference = record.field(6),
                .width = record.field(7),
            },
            blanks);
        if (!element) return std::move(element).error();
        tables.insert_element(std::move(element).value());
        return Ok{};
    });
}

Status read_element_table(TableSet& tables, const std::string& path, NumberBlanks blanks) {
    auto bytes = read_table_file(path);
    // Record files report read failures as plain text, not as Io.
    if (!bytes) return BufrError::text(bytes.error().detail());
    return parse_element_table(tables, *bytes, blanks);
}

}  // namespace skyrec
