#include "message/message_cursor.hpp"

#include <algorithm>
#include <cstring>

#include "message/scan.hpp"

namespace skyrec {
namespace {

bool ends_on_terminator(ByteView slice) noexcept {
    return slice.size >= kSection0Length + kMarkerLength &&
           std::memcmp(slice.data + slice.size - kMarkerLength, "7777", kMarkerLength) == 0;
}

// Whether the "BUFR" at `start` opens a message: a section 0 of an edition
// read here, or a declared length that ends on "7777" (a message of another
// edition, refused by name). Any other "BUFR" is a word in some text.
bool opens_message(ByteView buffer, std::size_t start) noexcept {
    const std::size_t left = buffer.size - start;
    if (left < kSection0Length) return true;  // reported as too short
    const std::uint8_t edition = buffer.data[start + 7];
    const std::uint64_t declared = read_u24(buffer.data + start + 4);
    if (edition >= 2 && edition <= 4) return declared >= kSection0Length;
    return declared <= left && ends_on_terminator(buffer.subview(start, static_cast<std::size_t>(declared)));
}

}  // namespace

std::optional<FoundMessage> MessageCursor::next() {
    const std::size_t size = buffer_.size;
    std::size_t start = find_marker(buffer_, position_);
    while (start < size && !opens_message(buffer_, start))
        start = find_marker(buffer_, start + kMarkerLength);
    if (start >= size) {
        position_ = size;
        return std::nullopt;
    }
    FoundMessage found;
    found.start = start;
    const std::size_t left = size - start;
    if (left < kSection0Length) {
        found.length = left;
        found.framed = BufrError::too_short();
        position_ = start + kMarkerLength;
        return found;
    }
    const std::uint64_t declared = read_u24(buffer_.data + start + 4);
    if (declared > left) {
        found.length = left;
        found.framed = BufrError::cut_short(declared, left);
        position_ = start + kMarkerLength;
        return found;
    }
    found.length = static_cast<std::size_t>(declared);
    const ByteView slice = buffer_.subview(start, found.length);
    found.framed = frame_any_edition(slice);
    const bool trusted = found.framed.ok() || ends_on_terminator(slice);
    position_ = start + (trusted ? std::max<std::size_t>(found.length, kMarkerLength) : kMarkerLength);
    return found;
}

}  // namespace skyrec
