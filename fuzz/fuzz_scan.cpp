// Scanning arbitrary bytes for messages and framing each.
#include <cstddef>
#include <cstdint>

#include "message/scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto slices = skyrec::scan_messages({data, size});
    if (slices) {
        for (const auto& s : slices.value()) {
            if (s.start + s.length > size) __builtin_trap();
        }
    }
    auto all = skyrec::parse_all({data, size});
    if (!all) (void)all.error().message();
    return 0;
}
