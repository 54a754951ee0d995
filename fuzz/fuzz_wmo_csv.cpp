// Loading a directory of WMO CSV tables holding one arbitrary file: a Table B
// file when the first byte is even, a Table D file when it is odd; the rest
// of the input is the file.
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "scratch_files.hpp"
#include "tables/wmo_csv_tables.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string dir = [] {
        const std::string d = fuzz::scratch_dir() + "/wmo";
        std::filesystem::create_directory(d);
        return d;
    }();
    static const std::string table_b = dir + "/BUFRCREX_TableB_en_00.csv";
    static const std::string table_d = dir + "/BUFR_TableD_en_00.csv";
    if (size == 0) return 0;
    const bool is_d = (data[0] & 1) != 0;
    std::error_code ignored;
    std::filesystem::remove(is_d ? table_b : table_d, ignored);
    fuzz::write_file(is_d ? table_d : table_b, data + 1, size - 1);
    auto loaded = skyrec::load_wmo_csv_tables(dir);
    if (!loaded) (void)loaded.error().message();
    return 0;
}
