// The section 0 to 3 fields of every message in a stretch of a buffer, one
// array per field: the cheap pass that finds messages and lets callers pick
// some by centre, category or time before decoding any.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/bytes.hpp"
#include "message/message.hpp"

namespace skyrec {

struct HeaderColumns {
    // Every message found, framed or not, in order.
    std::vector<std::uint64_t> offset;  // of its "BUFR"
    std::vector<std::uint64_t> length;
    std::vector<std::uint8_t> framed;  // 0 where `errors` says why not; its other fields are then 0
    std::vector<std::uint8_t> edition;
    std::vector<std::uint8_t> master_table;
    std::vector<std::uint16_t> centre;
    std::vector<std::uint16_t> subcentre;
    std::vector<std::uint8_t> update_sequence;
    std::vector<std::uint8_t> category;
    std::vector<std::uint8_t> subcategory;
    std::vector<std::uint8_t> local_subcategory;
    std::vector<std::uint8_t> master_version;
    std::vector<std::uint8_t> local_version;
    std::vector<std::uint16_t> year;
    std::vector<std::uint8_t> month;
    std::vector<std::uint8_t> day;
    std::vector<std::uint8_t> hour;
    std::vector<std::uint8_t> minute;
    std::vector<std::uint8_t> second;
    std::vector<std::uint16_t> subsets;
    std::vector<std::uint8_t> observed;
    std::vector<std::uint8_t> compressed;

    struct Failure {
        std::size_t row;
        std::string reason;
        const char* kind;  // BufrError::kind_name
    };
    std::vector<Failure> errors;
    // Where a scan of the same bytes with more after them would go on: at
    // the first marker from `end` on, or where a marker could still begin.
    std::size_t resume = 0;
    // With keep_records, each row's framed record (a blank one where
    // `framed` is 0), so that decoding them later frames nothing again.
    std::vector<BufrMessage> records;

    std::size_t size() const noexcept { return offset.size(); }
};

// The messages of `buffer` whose "BUFR" lies in [position, end), found as
// MessageCursor finds them: past bad ones, which are reported in `errors`.
HeaderColumns scan_headers(ByteView buffer, std::size_t position, std::size_t end, bool keep_records = false);

}  // namespace skyrec
