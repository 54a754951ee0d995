// A private scratch directory for targets whose entry point reads files:
// each input is written to a file there, then read back by the loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// The directory, created on first use and removed at exit.
const std::string& scratch_dir();

// Writes `data` to `path` (created or replaced); aborts on failure, which
// would be the harness's fault, not the input's.
void write_file(const std::string& path, const std::uint8_t* data, std::size_t size);

}  // namespace fuzz
