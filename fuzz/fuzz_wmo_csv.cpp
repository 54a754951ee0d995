// Reading one arbitrary WMO CSV table file: a Table D file when the first
// byte is odd, a code and flag table file when it is even and at least 0x80,
// a Table B file otherwise; the rest of the input is the file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tables/wmo_csv_tables.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    skyrec::TableSet tables;
    auto parse = (data[0] & 1) != 0 ? skyrec::parse_wmo_table_d
                 : data[0] >= 0x80  ? skyrec::parse_wmo_code_flag
                                    : skyrec::parse_wmo_table_b;
    auto read = parse(tables, text);
    if (!read) (void)read.error().message();
    return 0;
}
