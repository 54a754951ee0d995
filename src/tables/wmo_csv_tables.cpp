#include "tables/wmo_csv_tables.hpp"

#include <string_view>
#include <unordered_map>
#include <vector>

#include "tables/csv_reader.hpp"
#include "tables/element_row.hpp"
#include "tables/field_conversions.hpp"
#include "tables/table_files.hpp"

namespace skyrec {
namespace {

constexpr std::string_view kTableBPrefix = "BUFRCREX_TableB_en_";
constexpr std::string_view kTableDPrefix = "BUFR_TableD_en_";
constexpr std::string_view kSuffix = ".csv";

// The source has no type column: the unit, compared exactly, decides.
std::string_view element_type_of(std::string_view unit) noexcept {
    if (unit == "Code table") return "code";
    if (unit == "Flag table") return "flags";
    if (unit == "CCITT IA5") return "string";
    return "long";
}

Status read_table_b(TableSet& tables, const std::string& path) {
    return for_each_record(path, CsvDialect::Wmo, [&](const CsvRecord& record) -> Status {
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

Status read_table_d(TableSet& tables, const std::string& path) {
    // A sequence's rows need not be adjacent: gather them per file first.
    std::unordered_map<DescriptorCode, std::vector<DescriptorCode>> members;
    SKYREC_CHECK(for_each_record(path, CsvDialect::Wmo, [&](const CsvRecord& record) -> Status {
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

}  // namespace

Result<TableSet> load_wmo_csv_tables(const std::string& directory) {
    auto table_b = list_table_files(directory, kTableBPrefix, kSuffix);
    if (!table_b) return std::move(table_b).error();
    TableSet tables;
    for (const std::string& path : *table_b)
        SKYREC_CHECK(read_table_b(tables, path));

    auto table_d = list_table_files(directory, kTableDPrefix, kSuffix);
    if (!table_d) return std::move(table_d).error();
    for (const std::string& path : *table_d)
        SKYREC_CHECK(read_table_d(tables, path));
    return tables;
}

}  // namespace skyrec
