// Reading a codetables directory holding one arbitrary code table file.
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "scratch_files.hpp"
#include "tables/eccodes_tables.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string dir = [] {
        const std::string d = fuzz::scratch_dir() + "/codetables";
        std::filesystem::create_directory(d);
        return d;
    }();
    fuzz::write_file(dir + "/20003.table", data, size);
    skyrec::TableSet tables;
    auto read = skyrec::read_code_table_directory(tables, dir);
    if (!read) (void)read.error().message();
    return 0;
}
