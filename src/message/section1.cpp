#include "message/section1.hpp"

namespace skyrec {
namespace {

constexpr std::uint8_t kNoInternationalSubcategory = 255;
constexpr std::uint16_t kYearOfCenturyBase = 2000;

// Kept for compatibility: the fields are read at fixed offsets whatever
// length section 1 declares; its octets past the last field go unread.
void read_edition4(const std::uint8_t* p, BufrMessage& m) noexcept {
    m.master_table_number = p[11];
    m.originating_centre = static_cast<std::uint16_t>(read_u16(p + 12));
    m.originating_subcentre = static_cast<std::uint16_t>(read_u16(p + 14));
    m.update_sequence_number = p[16];
    m.data_category = p[18];
    m.international_data_subcategory = p[19];
    m.local_data_subcategory = p[20];
    m.master_tables_version_number = p[21];
    m.local_tables_version_number = p[22];
    m.typical_year = static_cast<std::uint16_t>(read_u16(p + 23));
    m.typical_month = p[25];
    m.typical_day = p[26];
    m.typical_hour = p[27];
    m.typical_minute = p[28];
    m.typical_second = p[29];
}

// Editions 2 and 3 share one layout but for octets 5 and 6: edition 3 split
// edition 2's 16-bit centre into a sub-centre and an 8-bit centre.
void read_edition2or3(const std::uint8_t* p, std::uint8_t edition, BufrMessage& m) noexcept {
    m.master_table_number = p[11];
    if (edition == 3) {
        m.originating_subcentre = p[12];
        m.originating_centre = p[13];
    } else {
        m.originating_subcentre = 0;
        m.originating_centre = static_cast<std::uint16_t>(read_u16(p + 12));
    }
    m.update_sequence_number = p[14];
    m.data_category = p[16];
    m.international_data_subcategory = kNoInternationalSubcategory;
    m.local_data_subcategory = p[17];
    m.master_tables_version_number = p[18];
    m.local_tables_version_number = p[19];
    m.typical_year = static_cast<std::uint16_t>(kYearOfCenturyBase + p[20]);
    m.typical_month = p[21];
    m.typical_day = p[22];
    m.typical_hour = p[23];
    m.typical_minute = p[24];
    m.typical_second = 0;
}

}  // namespace

Section1Layout section1_layout(std::uint8_t edition) noexcept {
    if (edition == 4) return {17, 30};
    return {15, 25};
}

void read_section1(const std::uint8_t* p, std::uint8_t edition, BufrMessage& m) noexcept {
    m.edition = edition;
    if (edition == 4) {
        read_edition4(p, m);
    } else {
        read_edition2or3(p, edition, m);
    }
}

}  // namespace skyrec
