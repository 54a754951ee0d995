// Reading a whole table file, as bytes or as UTF-8 text.
#pragma once

#include <string>
#include <string_view>

#include "base/file.hpp"
#include "base/result.hpp"

namespace skyrec {

// Opens a table file for reading, or an Io error. Pipes, FIFOs, sockets and
// devices are refused without waiting for a writer: a table read from one
// could block for ever or never end.
Result<FileDescriptor> open_table_file(const std::string& path);

// The most read of one table file: some 200 times the largest real one (WMO's
// CSV code and flag tables, under 2 MB; ecCodes' element.table, under 200 KB).
inline constexpr std::size_t kTableFileLimit = std::size_t{64} << 20;

// The file's bytes, or an Io error carrying the system's text; one longer
// than kTableFileLimit fails before it takes that memory.
Result<std::string> read_table_file(const std::string& path);

// Ok when `bytes` is UTF-8 text, else the Io error "stream did not contain valid UTF-8".
Status check_text(std::string_view bytes);

// The file's text: read_table_file, then check_text.
Result<std::string> read_text_file(const std::string& path);

}  // namespace skyrec
