// Reading a whole table file as UTF-8 text.
#pragma once

#include <string>

#include "message/file.hpp"
#include "message/result.hpp"

namespace skyrec {

// Opens a table file for reading, or an Io error. Pipes, FIFOs, sockets and
// devices are refused without waiting for a writer: a table read from one
// could block for ever or never end.
Result<FileDescriptor> open_table_file(const std::string& path);

// The file's text, or an Io error: the system's text, or "stream did not
// contain valid UTF-8".
Result<std::string> read_text_file(const std::string& path);

}  // namespace skyrec
