#include "message/scan.hpp"

#include <cstring>

namespace skyrec {
namespace {}  // namespace

std::size_t find_marker(ByteView buffer, std::size_t pos) noexcept {
    const std::uint8_t* p = buffer.data;
    const std::size_t size = buffer.size;
    while (pos <= size && size - pos >= kMarkerLength) {
        const void* hit = std::memchr(p + pos, 'B', size - pos - (kMarkerLength - 1));
        if (hit == nullptr) return size;
        pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - p);
        if (std::memcmp(p + pos, "BUFR", kMarkerLength) == 0) return pos;
        ++pos;
    }
    return size;
}

Result<std::vector<MessageSlice>> scan_messages(ByteView buffer) {
    std::vector<MessageSlice> slices;
    const std::uint8_t* p = buffer.data;
    const std::size_t size = buffer.size;
    std::size_t pos = 0;
    while (pos < size && size - pos >= kMarkerLength) {
        const std::size_t j = find_marker(buffer, pos);
        if (j == size) break;
        if (size - j < 8) return BufrError::too_short();
        const std::uint64_t declared = read_u24(p + j + 4);
        if (declared > size - j) return BufrError::truncated_section(j, 0);
        slices.push_back({j, declared});
        // A declared length of 0 would leave the scan on its own marker; step
        // past the marker instead, and framing refuses the empty slice.
        pos = j + (declared == 0 ? kMarkerLength : declared);
    }
    return slices;
}

Result<std::vector<BufrMessage>> parse_all(ByteView buffer) {
    auto slices = scan_messages(buffer);
    if (!slices) return std::move(slices).error();
    std::vector<BufrMessage> messages;
    messages.reserve(slices->size());
    for (const MessageSlice& s : *slices) {
        auto m = frame_message(s.in(buffer));
        if (!m) return std::move(m).error();
        messages.push_back(std::move(m).value());
    }
    return messages;
}

}  // namespace skyrec
