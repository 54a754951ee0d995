#include "tables/text_file.hpp"

#include "message/file.hpp"
#include "message/utf8.hpp"

namespace skyrec {

Result<std::string> read_text_file(const std::string& path) {
    auto bytes = read_file_bytes(path);
    if (!bytes) return std::move(bytes).error();
    std::string text(bytes->begin(), bytes->end());
    if (!is_valid_utf8(text)) return BufrError::io("stream did not contain valid UTF-8");
    return text;
}

}  // namespace skyrec
