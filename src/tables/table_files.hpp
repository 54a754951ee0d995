// Finding table files: path joining and the filtered, sorted listing of a directory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"

namespace skyrec {

// `directory` + "/" + `name`, without doubling a trailing slash.
std::string join_path(std::string_view directory, std::string_view name);

// The part of `path` after its last slash.
std::string_view file_name_of(std::string_view path) noexcept;

// The full paths of the entries of `directory` whose names (read as UTF-8,
// invalid bytes as U+FFFD) start with `prefix` and end with `suffix`, sorted
// by byte order of the names. Entries of every kind are listed; nothing is
// entered. A directory that cannot be listed gives an Io error.
Result<std::vector<std::string>> list_table_files(const std::string& directory, std::string_view prefix,
                                                  std::string_view suffix);

}  // namespace skyrec
