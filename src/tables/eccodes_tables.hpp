// Loading BUFR tables laid out as ecCodes lays out one table version:
// element.table (Table B), sequence.def (Table D) and codetables/*.table.
#pragma once

#include <string>

#include "message/result.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Loads the directory: element.table and sequence.def are required, the
// codetables directory is read when it exists. All or nothing.
Result<TableSet> load_table_directory(const std::string& directory);

// Each reader adds its file's entries to `tables`, later entries replacing
// earlier ones under the same code.
Status read_element_table(TableSet& tables, const std::string& path);
Status read_sequence_file(TableSet& tables, const std::string& path);
Status read_code_table_directory(TableSet& tables, const std::string& directory);

}  // namespace skyrec
