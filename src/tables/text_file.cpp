#include "tables/text_file.hpp"

#include "message/file.hpp"
#include "message/utf8.hpp"

namespace skyrec {

Result<std::string> read_table_file(const std::string& path) {
    auto bytes = read_file_bytes(path);
    if (!bytes) return std::move(bytes).error();
    return std::string(bytes->begin(), bytes->end());
}

Status check_text(std::string_view bytes) {
    if (!is_valid_utf8(bytes)) return BufrError::io("stream did not contain valid UTF-8");
    return Ok{};
}

Result<std::string> read_text_file(const std::string& path) {
    auto text = read_table_file(path);
    if (!text) return text;
    SKYREC_CHECK(check_text(*text));
    return text;
}

}  // namespace skyrec
