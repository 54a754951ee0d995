// codetables/*.table: one file per element, named after its code, with lines
// "raw-value second-token meaning text...".
#include <string_view>

#include "base/debug_string.hpp"
#include "base/utf8.hpp"
#include "tables/eccodes_tables.hpp"
#include "tables/field_conversions.hpp"
#include "tables/table_files.hpp"
#include "tables/text_file.hpp"
#include "tables/text_scan.hpp"

namespace skyrec {
namespace {

// The file name without its last extension; a name whose only dot leads it
// is its own stem, and ".." has none.
bool file_stem(std::string_view name, std::string_view& stem) {
    if (name.empty() || name == "..") return false;
    const std::size_t dot = name.rfind('.');
    stem = dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
    return true;
}

}  // namespace

Result<CodeTable> parse_code_table(std::string_view text) {
    SKYREC_CHECK(check_text(text));
    CodeTable table;
    std::string_view rest = text;
    std::string_view line;
    while (next_line(rest, line)) {
        line = trim_white_space(line);
        if (line.empty() || line.front() == '#') continue;
        std::string_view key, second, word;
        if (!next_token(line, key) || !next_token(line, second) || !next_token(line, word)) continue;
        // The words after the second token, one blank between each two.
        std::string meaning;
        meaning.reserve(word.size() + line.size());
        meaning += word;
        while (next_token(line, word)) {
            meaning += ' ';
            meaning += word;
        }
        std::uint64_t raw = 0;
        if (const char* reason = parse_decimal(key, raw)) {
            return BufrError::table_syntax("bad code table key " + debug_string(key) + ": " + reason);
        }
        table.insert_or_assign(raw, std::move(meaning));
    }
    return table;
}

Result<std::optional<DescriptorCode>> code_table_file_code(std::string_view file_name) {
    std::string_view stem;
    if (!file_stem(file_name, stem) || !is_valid_utf8(stem)) return std::optional<DescriptorCode>{};
    // Every .table file must be named by a decimal code.
    auto code = parse_code_field(stem);
    if (!code) return std::move(code).error();
    return std::optional<DescriptorCode>{*code};
}

Status read_code_table_directory(TableSet& tables, const std::string& directory) {
    auto paths = list_table_files(directory, "", ".table");
    if (!paths) return std::move(paths).error();
    for (const std::string& path : *paths) {
        auto code = in_file(code_table_file_code(file_name_of(path)), path);
        if (!code) return std::move(code).error();
        if (!*code) continue;
        auto text = in_file(read_table_file(path), path);
        if (!text) return std::move(text).error();
        auto table = in_file(parse_code_table(*text), path);
        if (!table) return std::move(table).error();
        tables.insert_code_table(**code, std::move(*table));
    }
    return Ok{};
}

}  // namespace skyrec
