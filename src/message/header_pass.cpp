#include "message/header_pass.hpp"

#include <algorithm>

#include "base/interrupt.hpp"
#include "message/message_cursor.hpp"

namespace skyrec {
namespace {

void add(HeaderColumns& h, const BufrMessage& m) {
    h.framed.push_back(1);
    h.edition.push_back(m.edition);
    h.master_table.push_back(m.master_table_number);
    h.centre.push_back(m.originating_centre);
    h.subcentre.push_back(m.originating_subcentre);
    h.update_sequence.push_back(m.update_sequence_number);
    h.category.push_back(m.data_category);
    h.subcategory.push_back(m.international_data_subcategory);
    h.local_subcategory.push_back(m.local_data_subcategory);
    h.master_version.push_back(m.master_tables_version_number);
    h.local_version.push_back(m.local_tables_version_number);
    h.year.push_back(m.typical_year);
    h.month.push_back(m.typical_month);
    h.day.push_back(m.typical_day);
    h.hour.push_back(m.typical_hour);
    h.minute.push_back(m.typical_minute);
    h.second.push_back(m.typical_second);
    h.subsets.push_back(m.number_of_subsets);
    h.observed.push_back(m.observed_data ? 1 : 0);
    h.compressed.push_back(m.compressed_data ? 1 : 0);
}

}  // namespace

HeaderColumns scan_headers(ByteView buffer, std::size_t position, std::size_t end, bool keep_records) {
    HeaderColumns h;
    MessageCursor cursor(buffer, position);
    constexpr std::size_t kMarkerTail = 3;  // a marker cut by the buffer's end shows at most 3 bytes
    for (;;) {
        const std::size_t searched_from = cursor.position();
        auto found = cursor.next();
        if (!found) {
            h.resume = std::max(searched_from, buffer.size > kMarkerTail ? buffer.size - kMarkerTail : 0);
            break;
        }
        if (found->start >= end || interrupt_requested()) {
            h.resume = found->start;
            break;
        }
        h.offset.push_back(found->start);
        h.length.push_back(found->length);
        if (found->framed) {
            add(h, found->framed.value());
            if (keep_records) h.records.push_back(std::move(found->framed).value());
        } else {
            // A blank row keeps the arrays aligned with `offset`.
            add(h, BufrMessage{});
            h.framed.back() = 0;
            h.edition.back() = 0;
            h.errors.push_back({h.size() - 1, found->framed.error().reason(), found->framed.error().kind_name()});
            if (keep_records) h.records.emplace_back();
        }
    }
    return h;
}

}  // namespace skyrec
