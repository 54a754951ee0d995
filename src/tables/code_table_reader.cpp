// codetables/*.table: one file per element, named after its code, with lines
// "raw-value second-token meaning text...".
#include <string_view>

#include "message/debug_string.hpp"
#include "message/utf8.hpp"
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

Result<CodeTable> read_code_table(const std::string& path) {
    auto text = read_text_file(path);
    if (!text) return std::move(text).error();
    CodeTable table;
    std::string_view rest = *text;
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

}  // namespace

Status read_code_table_directory(TableSet& tables, const std::string& directory) {
    auto paths = list_table_files(directory, "", ".table");
    if (!paths) return std::move(paths).error();
    for (const std::string& path : *paths) {
        std::string_view stem;
        if (!file_stem(file_name_of(path), stem) || !is_valid_utf8(stem)) continue;
        // Every .table file must be named by a decimal code.
        auto code = in_file(parse_code_field(stem), path);
        if (!code) return std::move(code).error();
        auto table = in_file(read_code_table(path), path);
        if (!table) return std::move(table).error();
        tables.insert_code_table(*code, std::move(*table));
    }
    return Ok{};
}

}  // namespace skyrec
