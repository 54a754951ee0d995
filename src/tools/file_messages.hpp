// The messages of a file, found as the Python readers find them in a stream:
// a window of the file at a time, each message whole in it before it is
// framed, so that any file costs a window and its longest message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/bytes.hpp"
#include "message/message_cursor.hpp"

namespace skyrec {

// One message as found: its number in the file (from 0), the offset of its
// "BUFR", its record or why it could not be framed, and its bytes.
struct FileMessage {
    std::size_t index = 0;
    std::uint64_t offset = 0;
    const FoundMessage& found;
    ByteView bytes;
};

struct FileScan {
    std::size_t messages = 0;
    std::optional<std::string> failure;  // the system's text of why the file could not be read on
    bool stopped = false;                // `each` asked to stop
    bool interrupted = false;            // the host asked to stop (base/interrupt.hpp)
};

// Gives each message of the file at `path` to `each`, which returns false to
// stop. A message that the file no longer holds whole (it shrank while being
// read) fails as "file changed while reading".
FileScan each_file_message(const std::string& path, const std::function<bool(const FileMessage&)>& each);

}  // namespace skyrec
