// Loading BUFR tables laid out as ecCodes lays out one table version:
// element.table (Table B), sequence.def (Table D) and codetables/*.table.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/result.hpp"
#include "tables/element_row.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Loads the directory: element.table and sequence.def are required, the
// codetables directory is read when it exists. All or nothing.
Result<TableSet> load_table_directory(const std::string& directory, NumberBlanks blanks);
inline Result<TableSet> load_table_directory(const std::string& directory) {
    return load_table_directory(directory, NumberBlanks::Refused);
}

// Each reader adds its file's entries to `tables`, later entries replacing
// earlier ones under the same code.
Status read_element_table(TableSet& tables, const std::string& path, NumberBlanks blanks = NumberBlanks::Refused);
Status read_sequence_file(TableSet& tables, const std::string& path);
Status read_code_table_directory(TableSet& tables, const std::string& directory);

// The parsers behind the readers, fed a file's bytes. Sequence and code
// table files must be UTF-8 as a whole (an Io error otherwise).
Status parse_element_table(TableSet& tables, std::string_view bytes, NumberBlanks blanks = NumberBlanks::Refused);
Status parse_sequence_file(TableSet& tables, std::string_view bytes);
Result<CodeTable> parse_code_table(std::string_view bytes);

// The code that a code table file's name gives ("{code}.table"), or nullopt
// for a name that is passed over.
Result<std::optional<DescriptorCode>> code_table_file_code(std::string_view file_name);

}  // namespace skyrec
