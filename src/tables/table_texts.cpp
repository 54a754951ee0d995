#include "tables/table_texts.hpp"

#include "tables/eccodes_tables.hpp"

namespace skyrec {

Status read_table_texts(TableSet& tables, const TableTexts& texts, NumberBlanks blanks) {
    if (texts.element_table) SKYREC_CHECK(parse_element_table(tables, *texts.element_table, blanks));
    if (texts.sequence_file) SKYREC_CHECK(parse_sequence_file(tables, *texts.sequence_file));
    for (const auto& [name, bytes] : texts.code_tables) {
        auto code = code_table_file_code(name);
        if (!code) return std::move(code).error();
        if (!*code) continue;
        auto table = parse_code_table(bytes);
        if (!table) return std::move(table).error();
        tables.insert_code_table(**code, std::move(*table));
    }
    return Ok{};
}

}  // namespace skyrec
