#include "message/message.hpp"

#include <cstring>

namespace skyrec {
namespace {

// `offset + length > size`, with an overflowing sum counting as beyond the end.
bool runs_past(std::uint64_t offset, std::uint64_t length, std::uint64_t size) noexcept {
    return length > size || offset > size - length;
}

// The fixed section 1 octets are read at absolute offsets: a message too short
// to hold them is refused rather than read past its end.
constexpr std::size_t kFlagsAndYearEnd = 25;   // octets 17, 23 and 24
constexpr std::size_t kFixedSection1End = 30;  // octets 11 to 29

}  // namespace

Result<BufrMessage> frame_message(ByteView bytes) {
    const std::uint8_t* p = bytes.data;
    const std::uint64_t len = bytes.size;

    if (len <= 7) return BufrError::too_short();
    if (std::memcmp(p, "BUFR", 4) != 0) return BufrError::missing_marker();
    if (p[7] != 4) return BufrError::unsupported_edition(p[7]);
    const std::uint64_t declared = read_u24(p + 4);
    if (declared != len) return BufrError::length_mismatch(declared, len);
    if (len <= 10) return BufrError::truncated_section(8, 1);

    BufrMessage m;
    m.section1_length = read_u24(p + 8);
    const std::uint64_t s2 = 8 + m.section1_length;
    if (s2 > len || len < kFlagsAndYearEnd) return BufrError::truncated_section(8, 1);

    const std::uint8_t section1_flags = p[17];
    m.local_section_present = section1_flags != 0;
    m.typical_year = static_cast<std::uint16_t>(read_u16(p + 23));

    if (m.local_section_present) {
        if (runs_past(s2, 3, len)) return BufrError::truncated_section(s2, 2);
        m.section2_length = read_u24(p + s2);
        if (runs_past(s2, m.section2_length, len)) return BufrError::truncated_section(s2, 2);
    }

    const std::uint64_t s3 = s2 + m.section2_length;
    if (runs_past(s3, 3, len)) return BufrError::truncated_section(s3, 3);
    m.section3_length = read_u24(p + s3);
    if (runs_past(s3, m.section3_length, len) || m.section3_length < 7) return BufrError::truncated_section(s3, 3);
    m.number_of_subsets = static_cast<std::uint16_t>(read_u16(p + s3 + 4));
    m.observed_data = (p[s3 + 6] & 0x80) != 0;
    m.compressed_data = (p[s3 + 6] & 0x40) != 0;

    // Edition 3 required even section lengths and many edition 4 encoders still
    // pad section 3 with one octet: an odd descriptor area ends in padding.
    const std::uint64_t pairs = (m.section3_length - 7) / 2;
    m.unexpanded_descriptors.reserve(pairs);
    for (std::uint64_t i = 0; i < pairs; ++i) {
        m.unexpanded_descriptors.push_back(code_from_wire(static_cast<std::uint16_t>(read_u16(p + s3 + 7 + 2 * i))));
    }

    const std::uint64_t s4 = s3 + m.section3_length;
    if (runs_past(s4, 3, len)) return BufrError::truncated_section(s4, 4);
    m.section4_length = read_u24(p + s4);
    if (runs_past(s4, m.section4_length, len)) return BufrError::truncated_section(s4, 4);

    const std::uint64_t s5 = s4 + m.section4_length;
    if (runs_past(s5, 4, len)) return BufrError::truncated_section(s5, 5);
    if (std::memcmp(p + s5, "7777", 4) != 0) return BufrError::bad_terminator();

    if (len < kFixedSection1End) return BufrError::truncated_section(8, 1);
    m.total_length = len;
    m.master_table_number = p[11];
    m.originating_centre = static_cast<std::uint16_t>(read_u16(p + 12));
    m.originating_subcentre = static_cast<std::uint16_t>(read_u16(p + 14));
    m.update_sequence_number = p[16];
    m.data_category = p[18];
    m.international_data_subcategory = p[19];
    m.local_data_subcategory = p[20];
    m.master_tables_version_number = p[21];
    m.local_tables_version_number = p[22];
    m.typical_month = p[25];
    m.typical_day = p[26];
    m.typical_hour = p[27];
    m.typical_minute = p[28];
    m.typical_second = p[29];
    m.section4_data_offset = s4 + 4;
    m.section4_data_length = m.section4_length >= 4 ? m.section4_length - 4 : 0;
    return m;
}

}  // namespace skyrec
