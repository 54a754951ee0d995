// Reading an arbitrary element.table.
#include <cstddef>
#include <cstdint>

#include "scratch_files.hpp"
#include "tables/eccodes_tables.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::scratch_dir() + "/element.table";
    fuzz::write_file(path, data, size);
    skyrec::TableSet tables;
    auto read = skyrec::read_element_table(tables, path);
    if (!read) (void)read.error().message();
    return 0;
}
