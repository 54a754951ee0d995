// Reading an arbitrary code table file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tables/eccodes_tables.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto table = skyrec::parse_code_table(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!table) (void)table.error().message();
    return 0;
}
