// Choosing and loading the tables that a message names from an ecCodes
// definitions root: bufr/tables/{master number}/wmo/{master version}, then
// bufr/tables/{master number}/local/{local version}/{centre}/{sub-centre}.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "message/message.hpp"
#include "tables/element_row.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Where a definitions root keeps the master and the local tables of
// `message` (named, before any alias is followed).
std::filesystem::path master_directory(const std::filesystem::path& root, const BufrMessage& message);
std::filesystem::path local_directory(const std::filesystem::path& root, const BufrMessage& message);

// The directory to read for `path`: the directory itself, or where a chain of
// alias files (each holding a sibling's name) leads.
Result<std::string> resolve_table_dir(const std::string& path);

// The master tables of `message`, overridden entry by entry by its local
// tables when it declares them and they exist.
Result<TableSet> select_definitions_tables(const std::string& root, const BufrMessage& message,
                                           NumberBlanks blanks = NumberBlanks::Refused);

// Whether a load reads the code tables: most of a version's bytes and files,
// which only the readers of meanings look at.
enum class CodeTables { Read, Skipped };

// The same over several roots searched in order, as ecCodes reads its
// definition path: each table file comes from the first root that has it,
// and each code table from the first that has its file.
Result<TableSet> select_tables_from_roots(const std::vector<std::string>& roots, const BufrMessage& message,
                                          NumberBlanks blanks = NumberBlanks::Refused,
                                          CodeTables codes = CodeTables::Read);

}  // namespace skyrec
