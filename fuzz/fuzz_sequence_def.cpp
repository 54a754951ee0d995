// Reading an arbitrary sequence.def.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tables/eccodes_tables.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    skyrec::TableSet tables;
    auto read = skyrec::parse_sequence_file(tables, std::string_view(reinterpret_cast<const char*>(data), size));
    if (!read) (void)read.error().message();
    return 0;
}
