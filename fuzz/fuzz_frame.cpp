// Framing one message from arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "message/message.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto framed = skyrec::frame_message({data, size});
    if (framed) {
        // The located section 4 data must lie inside the buffer.
        const auto& m = framed.value();
        if (m.section4_data_offset + m.section4_data_length > size) __builtin_trap();
    } else {
        (void)framed.error().message();
    }
    return 0;
}
