// Whether two paths name regular files of the same bytes, as the Python
// compare judges before reading any message.
#pragma once

#include <string>

namespace skyrec::launcher {

// False when either cannot be read: the Python command says why.
bool same_bytes(const std::string& a, const std::string& b);

}  // namespace skyrec::launcher
