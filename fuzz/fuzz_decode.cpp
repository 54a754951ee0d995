// Decoding the first message of arbitrary bytes against the fixed table set,
// as decode_values_with_tables does.
#include <cstddef>
#include <cstdint>

#include "decode/decode_section4.hpp"
#include "fixed_tables.hpp"
#include "message/limits.hpp"
#include "message/scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const skyrec::ByteView buffer{data, size};
    auto slices = skyrec::scan_messages(buffer);
    if (!slices || slices->empty()) return 0;
    const skyrec::ByteView bytes = slices->front().in(buffer);
    auto message = skyrec::frame_message(bytes);
    if (!message) return 0;
    auto values = skyrec::decode_section4(*message, fuzz::fixed_tables(), message->section4_data(bytes));
    if (!values) {
        (void)values.error().message();
        return 0;
    }
    if (values->size() > skyrec::kMaxDecodedValues) __builtin_trap();
    for (const skyrec::DecodedValue& v : *values) {
        if (v.name == nullptr) __builtin_trap();
    }
    return 0;
}
