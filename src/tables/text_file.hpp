// Reading a whole table file as UTF-8 text.
#pragma once

#include <string>

#include "message/result.hpp"

namespace skyrec {

// The file's text, or an Io error: the system's text, or "stream did not
// contain valid UTF-8".
Result<std::string> read_text_file(const std::string& path);

}  // namespace skyrec
