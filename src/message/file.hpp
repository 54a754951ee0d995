// Reading files, with the operating system's description on failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "message/result.hpp"

namespace skyrec {

// The file's bytes, or an Io error carrying the system's text.
Result<std::vector<std::uint8_t>> read_file_bytes(const std::string& path);

// The system's description of an errno value, as shown in error messages.
std::string system_error_text(int errnum);

}  // namespace skyrec
