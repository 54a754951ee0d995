// A whole message: sections 0 to 5 around the data the walk writes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.hpp"
#include "encode/bit_writer.hpp"
#include "encode/encode_walk.hpp"
#include "encode/slots.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

struct MessageHeader {
    // Section 1's fields, the edition (3 or 4), observed and compressed
    // data, as framing fills them in; lengths and subsets are ignored.
    BufrMessage fields;
    std::vector<std::uint8_t> section1_extra;           // octets after section 1's fixed ones
    std::optional<std::vector<std::uint8_t>> section2;  // the local data, without its four-octet header
    // Sections padded to an even length (edition 3 requires it), else as short as they can be.
    std::optional<bool> even_section3;
    std::optional<bool> even_section4;
};

// Section 4's data bits, however they are made.
class SectionData {
public:
    virtual ~SectionData() = default;
    virtual std::size_t subsets() const = 0;
    // The bytes the data will likely take, to spare regrowth.
    virtual std::size_t size_hint() const { return 0; }
    virtual Status write(BitWriter& writer) const = 0;
};

// The message holding `data` under `descriptors`.
Result<std::vector<std::uint8_t>> encode_message(const MessageHeader& header,
                                                 std::span<const DescriptorCode> descriptors, const SectionData& data);

// The message holding `slots` (one subset each) under `descriptors`.
Result<std::vector<std::uint8_t>> encode_message(const MessageHeader& header,
                                                 std::span<const DescriptorCode> descriptors, const TableSet& tables,
                                                 const SlotSource& slots, const EncodeOptions& options);

}  // namespace skyrec
