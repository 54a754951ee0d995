// Paths as the os module takes and gives them: str, bytes or os.PathLike in,
// encoded as the file system encodes names (so names that are not UTF-8 go
// through, as os.fsencode passes them); str out, decoded the same way.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "py_common/python.hpp"

namespace skyrec::py {

// The path's bytes; nullopt with TypeError naming `name`, or ValueError for a NUL byte.
std::optional<std::string> path_arg(PyObject* obj, const char* name);

// One path, or a list or tuple of them, in order.
std::optional<std::vector<std::string>> paths_arg(PyObject* obj, const char* name);

// A path as os.fsdecode gives it.
PyObject* path_str(const std::string& path);

}  // namespace skyrec::py
