// Finding the messages in a buffer that may hold several, among other bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/bytes.hpp"
#include "base/result.hpp"
#include "message/message.hpp"

namespace skyrec {

// "BUFR", and section 0 (the marker, the length and the edition).
inline constexpr std::size_t kMarkerLength = 4;
inline constexpr std::size_t kSection0Length = 8;

// A stretch of the scanned buffer holding one message by its declared length.
struct MessageSlice {
    std::size_t start = 0;
    std::uint64_t length = 0;

    ByteView in(ByteView buffer) const noexcept { return buffer.subview(start, length); }
};

// Position of the next "BUFR" at or after `pos`, or the buffer's size when
// there is none.
std::size_t find_marker(ByteView buffer, std::size_t pos) noexcept;

// Finds every "BUFR" marker, jumping over each message by its declared length.
// Reads only markers and length fields; copies nothing.
Result<std::vector<MessageSlice>> scan_messages(ByteView buffer);

// Scans, then frames every slice in order; the first error ends it.
Result<std::vector<BufrMessage>> parse_all(ByteView buffer);

}  // namespace skyrec
