#include "message/section1.hpp"

#include <type_traits>

#include "message/scan.hpp"

namespace skyrec {
namespace {

constexpr std::uint8_t kNoInternationalSubcategory = 255;
constexpr std::uint16_t kYearOfCenturyBase = 2000;

// Calls field(octet, octets, member, base) for each header field that
// section 1 of `edition` holds: its first octet counted from the section's
// start (from 0), its width, and what the octets' number is added to. One
// layout for reading and writing. Kept for compatibility: the fields stand
// at fixed offsets whatever length section 1 declares.
template <class Message, class Field>
void each_field(std::uint8_t edition, Message& m, Field&& field) {
    field(3, 1, m.master_table_number, 0);
    if (edition == 4) {
        field(4, 2, m.originating_centre, 0);
        field(6, 2, m.originating_subcentre, 0);
        field(8, 1, m.update_sequence_number, 0);
        field(10, 1, m.data_category, 0);
        field(11, 1, m.international_data_subcategory, 0);
        field(12, 1, m.local_data_subcategory, 0);
        field(13, 1, m.master_tables_version_number, 0);
        field(14, 1, m.local_tables_version_number, 0);
        field(15, 2, m.typical_year, 0);
        field(17, 1, m.typical_month, 0);
        field(18, 1, m.typical_day, 0);
        field(19, 1, m.typical_hour, 0);
        field(20, 1, m.typical_minute, 0);
        field(21, 1, m.typical_second, 0);
        return;
    }
    // Editions 2 and 3 share one layout but for octets 5 and 6: edition 3
    // split edition 2's 16-bit centre into a sub-centre and an 8-bit centre.
    if (edition == 3) {
        field(4, 1, m.originating_subcentre, 0);
        field(5, 1, m.originating_centre, 0);
    } else {
        field(4, 2, m.originating_centre, 0);
    }
    field(6, 1, m.update_sequence_number, 0);
    field(8, 1, m.data_category, 0);
    field(9, 1, m.local_data_subcategory, 0);
    field(10, 1, m.master_tables_version_number, 0);
    field(11, 1, m.local_tables_version_number, 0);
    field(12, 1, m.typical_year, kYearOfCenturyBase);
    field(13, 1, m.typical_month, 0);
    field(14, 1, m.typical_day, 0);
    field(15, 1, m.typical_hour, 0);
    field(16, 1, m.typical_minute, 0);
}

}  // namespace

Section1Layout section1_layout(std::uint8_t edition) noexcept {
    if (edition == 4) return {17, 30};
    return {15, 25};
}

void read_section1(const std::uint8_t* p, std::uint8_t edition, BufrMessage& m) noexcept {
    m.edition = edition;
    // What editions 2 and 3 lack.
    m.originating_subcentre = 0;
    m.international_data_subcategory = kNoInternationalSubcategory;
    m.typical_second = 0;
    const std::uint8_t* section = p + kSection0Length;
    each_field(edition, m, [section](std::size_t at, int octets, auto& field, unsigned base) {
        const std::uint32_t number = octets == 2 ? read_u16(section + at) : section[at];
        field = static_cast<std::remove_reference_t<decltype(field)>>(number + base);
    });
}

void write_section1(std::uint8_t* section, const BufrMessage& m) noexcept {
    each_field(m.edition, m, [section](std::size_t at, int octets, const auto& field, unsigned base) {
        const auto number = static_cast<std::uint32_t>(field - base);
        if (octets == 2) section[at++] = static_cast<std::uint8_t>(number >> 8);
        section[at] = static_cast<std::uint8_t>(number);
    });
}

}  // namespace skyrec
