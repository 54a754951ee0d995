// Framing one message from arbitrary bytes, edition 4 only and any edition.
#include <cstddef>
#include <cstdint>

#include "message/message.hpp"

namespace {

void check_inside(const skyrec::Result<skyrec::BufrMessage>& framed, std::size_t size) {
    if (framed) {
        // The located section 4 data must lie inside the buffer.
        const auto& m = framed.value();
        if (m.section4_data_offset + m.section4_data_length > size) __builtin_trap();
    } else {
        (void)framed.error().message();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto framed = skyrec::frame_message({data, size});
    auto any = skyrec::frame_any_edition({data, size});
    check_inside(framed, size);
    check_inside(any, size);
    // Edition 4 frames alike both ways.
    if (framed && (!any || any.value().unexpanded_descriptors != framed.value().unexpanded_descriptors ||
                   any.value().typical_year != framed.value().typical_year)) {
        __builtin_trap();
    }
    return 0;
}
