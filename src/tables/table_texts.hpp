// One table version held in memory: the files a table directory holds, as
// bytes, loaded with the same parsers as the directory itself.
#pragma once

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.hpp"
#include "tables/element_row.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

struct TableTexts {
    std::optional<std::string_view> element_table;
    std::optional<std::string_view> sequence_file;
    // (file name, bytes) of each codetables/ file.
    std::vector<std::pair<std::string_view, std::string_view>> code_tables;
};

// Adds the files that are present to `tables`: element.table, sequence.def,
// then the code tables in the order given, as the directory readers would.
Status read_table_texts(TableSet& tables, const TableTexts& texts, NumberBlanks blanks);

}  // namespace skyrec
