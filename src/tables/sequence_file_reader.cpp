// sequence.def: statements such as "301011" = [ 004001, 004002, 004003 ],
// free-form, possibly over several lines, with # comment lines.
#include <string_view>
#include <vector>

#include "tables/eccodes_tables.hpp"
#include "tables/field_conversions.hpp"
#include "tables/text_file.hpp"
#include "tables/text_scan.hpp"

namespace skyrec {
namespace {

Status process_statement(TableSet& tables, std::string_view statement) {
    const std::size_t equals = statement.find('=');
    if (equals == std::string_view::npos) return Ok{};  // not a statement: dropped

    std::string_view key = trim_white_space(statement.substr(0, equals));
    while (!key.empty() && key.front() == '"')
        key.remove_prefix(1);
    while (!key.empty() && key.back() == '"')
        key.remove_suffix(1);
    auto code = parse_code_field(key);
    if (!code) return std::move(code).error();

    const std::string_view rest = statement.substr(equals + 1);
    const std::size_t open = rest.find('[');
    const std::size_t close = rest.find(']');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return BufrError::table_syntax(std::string(statement));
    }
    std::string_view list = rest.substr(open + 1, close - open - 1);

    SequenceDefinition sequence{.code = *code, .members = {}};
    for (;;) {
        const std::size_t comma = list.find(',');
        const std::string_view piece = trim_white_space(list.substr(0, comma));
        if (!piece.empty()) {
            auto member = parse_code_field(piece);
            if (!member) return std::move(member).error();
            sequence.members.push_back(*member);
        }
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    tables.insert_sequence(std::move(sequence));
    return Ok{};
}

}  // namespace

Status parse_sequence_file(TableSet& tables, std::string_view text) {
    SKYREC_CHECK(check_text(text));
    // Lines gather into a pending statement until one holds a closing bracket.
    std::string pending;
    std::string_view rest = text;
    std::string_view line;
    while (next_line(rest, line)) {
        line = trim_white_space(line);
        if (line.empty() || line.front() == '#') continue;
        if (!pending.empty()) pending += ' ';
        pending += line;
        if (pending.find(']') != std::string::npos) {
            SKYREC_CHECK(process_statement(tables, pending));
            pending.clear();
        }
    }
    // A statement left open at the end is dropped.
    return Ok{};
}

Status read_sequence_file(TableSet& tables, const std::string& path) {
    auto text = read_table_file(path);
    if (!text) return std::move(text).error();
    return parse_sequence_file(tables, *text);
}

}  // namespace skyrec
