// Stepping through arbitrary bytes message by message, past bad ones, and the
// header pass built on it, as the package's tolerant readers do.
#include <cstddef>
#include <cstdint>

#include "message/header_pass.hpp"
#include "message/message_cursor.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const skyrec::ByteView buffer{data, size};
    skyrec::MessageCursor cursor(buffer);
    std::size_t found = 0;
    std::size_t last_position = 0;
    while (auto next = cursor.next()) {
        // Each step moves on and stays inside the buffer.
        if (next->start + next->length > size || cursor.position() <= last_position) __builtin_trap();
        if (!next->framed) (void)next->framed.error().message();
        last_position = cursor.position();
        ++found;
    }
    const skyrec::HeaderColumns headers = skyrec::scan_headers(buffer, 0, size);
    if (headers.size() != found) __builtin_trap();
    for (const auto& failure : headers.errors) {
        if (failure.row >= headers.size() || headers.framed[failure.row] != 0) __builtin_trap();
    }
    return 0;
}
