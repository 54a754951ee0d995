// Stepping through the messages of a buffer one at a time, past bad ones: a
// message that cannot be framed is reported with its offset and the search
// goes on after it, so that one bad message does not hide the others. Messages
// of editions 2 and 3 frame here beside edition 4.
#pragma once

#include <cstdint>
#include <optional>

#include "base/bytes.hpp"
#include "base/result.hpp"
#include "message/message.hpp"

namespace skyrec {

// One message found: where it starts, the bytes it spans, and its record or
// the framing error. `length` is the declared length when the buffer holds
// that much, else what is left of the buffer.
struct FoundMessage {
    std::size_t start = 0;
    std::size_t length = 0;
    Result<BufrMessage> framed = BufrError::missing_marker();
};

class MessageCursor {
public:
    explicit MessageCursor(ByteView buffer, std::size_t position = 0) noexcept : buffer_(buffer), position_(position) {}

    // The next message, or nullopt when no "BUFR" marker is left. A message
    // is stepped over by its declared length when that length ends on "7777"
    // (whether or not it frames), else only its marker is: a damaged length
    // must not swallow the messages after it. A "BUFR" without a plausible
    // section 0 after it is not a message start.
    std::optional<FoundMessage> next();

    // Where the search for the next message starts.
    std::size_t position() const noexcept { return position_; }

private:
    ByteView buffer_;
    std::size_t position_;
};

}  // namespace skyrec
