// Loading the WMO BUFR4 tables in their CSV form: BUFRCREX_TableB_en_*.csv,
// BUFR_TableD_en_*.csv and, for the package's loader, BUFRCREX_CodeFlag_en_*.csv.
#pragma once

#include <string>
#include <string_view>

#include "base/result.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Every Table B file in name order, then every Table D file; later files
// replace earlier entries of the same code whole. No code tables. All or nothing.
Result<TableSet> load_wmo_csv_tables(const std::string& directory);

// As load_wmo_csv_tables, then the code and flag tables; a directory without
// a Table B or without a Table D file is an error naming it.
Result<TableSet> load_wmo_csv_tables_with_codes(const std::string& directory);

// The parsers behind the loaders, fed a file's bytes.
Status parse_wmo_table_b(TableSet& tables, std::string_view bytes);
Status parse_wmo_table_d(TableSet& tables, std::string_view bytes);
// Rows whose code figure is a plain number; ranges and "All n" rows name no
// single value and are passed over. A figure's first row gives its meaning.
Status parse_wmo_code_flag(TableSet& tables, std::string_view bytes);

}  // namespace skyrec
