#include "tools/header_keys.hpp"

#include <array>

namespace skyrec {
namespace {

constexpr std::array<std::string_view, 21> kNames = {
    "edition",
    "masterTableNumber",
    "bufrHeaderCentre",
    "bufrHeaderSubCentre",
    "updateSequenceNumber",
    "dataCategory",
    "internationalDataSubCategory",
    "dataSubCategory",
    "masterTablesVersionNumber",
    "localTablesVersionNumber",
    "typicalYear",
    "typicalMonth",
    "typicalDay",
    "typicalHour",
    "typicalMinute",
    "typicalSecond",
    "observedData",
    "compressedData",
    "numberOfSubsets",
    "typicalDate",
    "typicalTime",
};

}  // namespace

std::span<const std::string_view> header_key_names() noexcept { return kNames; }

std::optional<HeaderKey> header_key(std::string_view name) noexcept {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i] == name) return static_cast<HeaderKey>(i);
    }
    return std::nullopt;
}

std::int64_t header_value(const BufrMessage& m, HeaderKey key) noexcept {
    switch (key) {
        case 0:
            return m.edition;
        case 1:
            return m.master_table_number;
        case 2:
            return m.originating_centre;
        case 3:
            return m.originating_subcentre;
        case 4:
            return m.update_sequence_number;
        case 5:
            return m.data_category;
        case 6:
            return m.international_data_subcategory;
        case 7:
            return m.local_data_subcategory;
        case 8:
            return m.master_tables_version_number;
        case 9:
            return m.local_tables_version_number;
        case 10:
            return m.typical_year;
        case 11:
            return m.typical_month;
        case 12:
            return m.typical_day;
        case 13:
            return m.typical_hour;
        case 14:
            return m.typical_minute;
        case 15:
            return m.typical_second;
        case 16:
            return m.observed_data ? 1 : 0;
        case 17:
            return m.compressed_data ? 1 : 0;
        case 18:
            return m.number_of_subsets;
        case 19:
            return std::int64_t{m.typical_year} * 10000 + m.typical_month * 100 + m.typical_day;
        default:
            return std::int64_t{m.typical_hour} * 10000 + m.typical_minute * 100 + m.typical_second;
    }
}

}  // namespace skyrec
