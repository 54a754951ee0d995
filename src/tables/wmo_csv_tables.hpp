// Loading Table B and Table D from the WMO BUFR4 tables in their CSV form:
// BUFRCREX_TableB_en_*.csv and BUFR_TableD_en_*.csv. No code tables.
#pragma once

#include <string>

#include "message/result.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Every Table B file in name order, then every Table D file; later files
// replace earlier entries of the same code whole. All or nothing.
Result<TableSet> load_wmo_csv_tables(const std::string& directory);

}  // namespace skyrec
