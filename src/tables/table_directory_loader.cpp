#include <sys/stat.h>

#include "tables/eccodes_tables.hpp"
#include "tables/table_files.hpp"

namespace skyrec {

Result<TableSet> load_table_directory(const std::string& directory, NumberBlanks blanks) {
    TableSet tables;
    SKYREC_CHECK(read_element_table(tables, join_path(directory, "element.table"), blanks));
    SKYREC_CHECK(read_sequence_file(tables, join_path(directory, "sequence.def")));
    // Code tables are optional: anything that cannot be examined counts as absent.
    const std::string codetables = join_path(directory, "codetables");
    struct stat st{};
    if (codetables.find('\0') == std::string::npos && ::stat(codetables.c_str(), &st) == 0) {
        SKYREC_CHECK(read_code_table_directory(tables, codetables));
    }
    return tables;
}

}  // namespace skyrec
