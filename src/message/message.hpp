// Framing of one BUFR message into its header record.
#pragma once

#include <cstdint>
#include <vector>

#include "base/bytes.hpp"
#include "base/descriptor.hpp"
#include "base/result.hpp"

namespace skyrec {

// One framed message. Owns its descriptor list and no message bytes: the
// section 4 data is located by offset and length in the caller's buffer.
struct BufrMessage {
    std::vector<DescriptorCode> unexpanded_descriptors;
    std::uint64_t total_length = 0;
    std::uint64_t section1_length = 0;
    std::uint64_t section2_length = 0;
    std::uint64_t section3_length = 0;
    std::uint64_t section4_length = 0;
    std::uint64_t section4_data_offset = 0;
    std::uint64_t section4_data_length = 0;
    std::uint16_t originating_centre = 0;
    std::uint16_t originating_subcentre = 0;
    std::uint16_t typical_year = 0;
    std::uint16_t number_of_subsets = 0;
    bool local_section_present = false;
    bool observed_data = false;
    bool compressed_data = false;
    std::uint8_t edition = 4;
    std::uint8_t master_table_number = 0;
    std::uint8_t update_sequence_number = 0;
    std::uint8_t data_category = 0;
    std::uint8_t international_data_subcategory = 0;
    std::uint8_t local_data_subcategory = 0;
    std::uint8_t master_tables_version_number = 0;
    std::uint8_t local_tables_version_number = 0;
    std::uint8_t typical_month = 0;
    std::uint8_t typical_day = 0;
    std::uint8_t typical_hour = 0;
    std::uint8_t typical_minute = 0;
    std::uint8_t typical_second = 0;

    // The section 4 data bytes within `message`, the buffer this record was framed from.
    ByteView section4_data(ByteView message) const noexcept {
        return message.subview(section4_data_offset, section4_data_length);
    }
};

// Checks `bytes` as exactly one message (sections 0 to 5) of edition 4, as
// _skyrec's own functions read, and returns its record. Allocates only the
// descriptor list.
Result<BufrMessage> frame_message(ByteView bytes);

// The same for editions 2, 3 and 4 alike, as the package reads.
Result<BufrMessage> frame_any_edition(ByteView bytes);

// Whether `bytes` are those that `m` was framed from, as the framing above
// placed them: marker, length, edition, the section 3 and 4 headers and the
// terminator at the end of section 4 (bytes after it, within the declared
// length, are padding). A record checked against other bytes would decode
// garbage; this costs no allocation.
bool framed_from(ByteView bytes, const BufrMessage& m) noexcept;

// How many times the two framings above have run in this process: lets a
// test see that a read frames each message once.
std::uint64_t messages_framed() noexcept;

}  // namespace skyrec
