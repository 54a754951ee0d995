#include "message/message.hpp"

#include <atomic>
#include <cstring>

#include "message/section1.hpp"

namespace skyrec {
namespace {

// `offset + length > size`, with an overflowing sum counting as beyond the end.
bool runs_past(std::uint64_t offset, std::uint64_t length, std::uint64_t size) noexcept {
    return length > size || offset > size - length;
}

// The fixed section 1 octets are read at absolute offsets: a message too short
// to hold them is refused rather than read past its end. Edition 4 reads its
// flags and year (octets 17, 23 and 24) before the other sections; every
// fixed octet of editions 2 and 3 lies within the same bound.
constexpr std::size_t kEarlySection1End = 25;

bool accepted(std::uint8_t edition, bool older_too) noexcept {
    return edition == 4 || (older_too && (edition == 2 || edition == 3));
}

Result<BufrMessage> frame(ByteView bytes, bool older_too) {
    const std::uint8_t* p = bytes.data;
    const std::uint64_t len = bytes.size;

    if (len <= 7) return BufrError::too_short();
    if (std::memcmp(p, "BUFR", 4) != 0) return BufrError::missing_marker();
    const std::uint8_t edition = p[7];
    if (!accepted(edition, older_too)) return BufrError::unsupported_edition(edition, older_too);
    const std::uint64_t declared = read_u24(p + 4);
    if (declared != len) return BufrError::length_mismatch(declared, len);
    if (len <= 10) return BufrError::truncated_section(8, 1);

    BufrMessage m;
    m.section1_length = read_u24(p + 8);
    const std::uint64_t s2 = 8 + m.section1_length;
    if (s2 > len || len < kEarlySection1End) return BufrError::truncated_section(8, 1);

    const Section1Layout layout = section1_layout(edition);
    m.local_section_present = p[layout.flags_offset] != 0;

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

    // Editions 2 and 3 required even section lengths and many edition 4
    // encoders still pad section 3 with one octet: an odd descriptor area ends
    // in padding.
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

    if (len < layout.fixed_end) return BufrError::truncated_section(8, 1);
    m.total_length = len;
    read_section1(p, edition, m);
    m.section4_data_offset = s4 + 4;
    m.section4_data_length = m.section4_length >= 4 ? m.section4_length - 4 : 0;
    return m;
}

// Relaxed: a count for tests, ordered by nothing.
std::atomic<std::uint64_t> framings{0};

}  // namespace

Result<BufrMessage> frame_message(ByteView bytes) {
    framings.fetch_add(1, std::memory_order_relaxed);
    return frame(bytes, false);
}

Result<BufrMessage> frame_any_edition(ByteView bytes) {
    framings.fetch_add(1, std::memory_order_relaxed);
    return frame(bytes, true);
}

std::uint64_t messages_framed() noexcept { return framings.load(std::memory_order_relaxed); }

bool framed_from(ByteView bytes, const BufrMessage& m) noexcept {
    const std::uint8_t* p = bytes.data;
    const std::uint64_t len = bytes.size;
    if (len != m.total_length || len < 12 || m.section4_data_offset < 4 || m.section3_length < 7) return false;
    const std::uint64_t s4 = m.section4_data_offset - 4;
    if (s4 < m.section3_length || runs_past(s4, m.section4_length, len)) return false;
    const std::uint64_t s3 = s4 - m.section3_length;
    const std::uint64_t s5 = s4 + m.section4_length;
    return !runs_past(s5, 4, len) && std::memcmp(p, "BUFR", 4) == 0 && read_u24(p + 4) == len && p[7] == m.edition &&
           read_u24(p + s3) == m.section3_length && read_u16(p + s3 + 4) == m.number_of_subsets &&
           ((p[s3 + 6] & 0x40) != 0) == m.compressed_data && read_u24(p + s4) == m.section4_length &&
           std::memcmp(p + s5, "7777", 4) == 0;
}

}  // namespace skyrec
