#include "tables/wmo_csv_tables.hpp"

#include <unordered_map>
#include <vector>

#include "tables/csv_reader.hpp"
#include "tables/element_row.hpp"
#include "tables/field_conversions.hpp"
#include "tables/table_files.hpp"
#include "tables/text_file.hpp"
#include "tables/text_scan.hpp"

namespace skyrec {
namespace {

constexpr std::string_view kTableBPrefix = "BUFRCREX_TableB_en_";
constexpr std::string_view kTableDPrefix = "BUFR_TableD_en_";
constexpr std::string_view kCodeFlagPrefix = "BUFRCREX_CodeFlag_en_";
constexpr std::string_view kSuffix = ".csv";

// The source has no type column: the unit decides. Kept for compatibility: compared
// exactly, so "Code Table" or " Code table" make a plain number.
std::string_view element_type_of(std::string_view unit) noexcept {
    if (unit == "Code table") return "code";
    if (unit == "Flag table") return "flags";
    if (unit == "CCITT IA5") return "string";
    return "long";
}

// Meanings may span lines in the source: words, one blank between each two.
std::string joined_words(std::string_view text) {
    std::string out;
    std::string_view word;
    while (next_token(text, word)) {
        if (!out.empty()) out += ' ';
        out += word;
    }
    return out;
}

template <Status (*Parse)(TableSet&, std::string_view)>
Status read_files(TableSet& tables, const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        auto bytes = read_table_file(path);
        // Record files report read failures as plain text, not as Io.
        if (!bytes) return BufrError::text(bytes.error().detail());
        SKYREC_CHECK(Parse(tables, *bytes));
    }
    return Ok{};
}

Result<std::vector<std::string>> required_files(const std::string& directory, std::string_view prefix) {
    auto paths = list_table_files(directory, prefix, kSuffix);
    if (paths && paths->empty()) {
        return BufrError::text("no " + std::string(prefix) + "*.csv file in WMO CSV table directory " + directory);
    }
    return paths;
}

}  // namespace

Status parse_wmo_table_b(TableSet& tables, std::string_view bytes) {
    return for_each_record(bytes, CsvDialect::Wmo, [&](const CsvRecord& record) -> Status {
        if (record.field_count() < 8) return Ok{};
        const std::string_view unit = record.field(4);
        auto element = parse_element_row({
            .code = record.field(2),
            .abbreviation = {},
            .element_type = element_type_of(unit),
            .name = record.field(3),
            .unit = unit,
            .scale = record.field(5),
            .reference = record.field(6),
            .width = record.field(7),
        });
        if (!element) return std::move(element).error();
        tables.insert_element(std::move(element).value());
        return Ok{};
    });
}

Status parse_wmo_table_d(TableSet& tables, std::string_view bytes) {
    // A sequence's rows need not be adjacent: gather them per file first.
    std::unordered_map<DescriptorCode, std::vector<DescriptorCode>> members;
    SKYREC_CHECK(for_each_record(bytes, CsvDialect::Wmo, [&](const CsvRecord& record) -> Status {
        if (record.field_count() < 6) return Ok{};
        auto sequence = parse_code_field(record.field(2));
        if (!sequence) return std::move(sequence).error();
        auto member = parse_code_field(record.field(5));
        if (!member) return std::move(member).error();
        members[*sequence].push_back(*member);
        return Ok{};
    }));
    for (auto& [code, list] : members)
        tables.insert_sequence({code, std::move(list)});
    return Ok{};
}

Status parse_wmo_code_flag(TableSet& tables, std::string_view bytes) {
    std::unordered_map<DescriptorCode, CodeTable> found;
    SKYREC_CHECK(for_each_record(bytes, CsvDialect::Wmo, [&](const CsvRecord& record) -> Status {
        if (record.field_count() < 4) return Ok{};
        std::uint64_t raw = 0;
        if (parse_decimal(trim_white_space(record.field(2)), raw) != nullptr) return Ok{};
        auto code = parse_code_field(record.field(0));
        if (!code) return std::move(code).error();
        // An entry without a name of its own is named by its first sub-entry.
        std::string meaning = joined_words(record.field(3));
        for (std::size_t i = 4; meaning.empty() && i < 6 && i < record.field_count(); ++i)
            meaning = joined_words(record.field(i));
        found[*code].try_emplace(raw, std::move(meaning));
        return Ok{};
    }));
    for (auto& [code, table] : found)
        tables.insert_code_table(code, std::move(table));
    return Ok{};
}

Result<TableSet> load_wmo_csv_tables(const std::string& directory) {
    auto table_b = list_table_files(directory, kTableBPrefix, kSuffix);
    if (!table_b) return std::move(table_b).error();
    TableSet tables;
    SKYREC_CHECK(read_files<parse_wmo_table_b>(tables, *table_b));
    auto table_d = list_table_files(directory, kTableDPrefix, kSuffix);
    if (!table_d) return std::move(table_d).error();
    SKYREC_CHECK(read_files<parse_wmo_table_d>(tables, *table_d));
    return tables;
}

Result<TableSet> load_wmo_csv_tables_with_codes(const std::string& directory) {
    auto table_b = required_files(directory, kTableBPrefix);
    if (!table_b) return std::move(table_b).error();
    auto table_d = required_files(directory, kTableDPrefix);
    if (!table_d) return std::move(table_d).error();
    auto code_flag = list_table_files(directory, kCodeFlagPrefix, kSuffix);
    if (!code_flag) return std::move(code_flag).error();
    TableSet tables;
    SKYREC_CHECK(read_files<parse_wmo_table_b>(tables, *table_b));
    SKYREC_CHECK(read_files<parse_wmo_table_d>(tables, *table_d));
    SKYREC_CHECK(read_files<parse_wmo_code_flag>(tables, *code_flag));
    return tables;
}

}  // namespace skyrec
