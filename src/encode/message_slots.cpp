#include "encode/message_slots.hpp"

#include <string_view>

#include "decode/decode_section4.hpp"
#include "decode/walker.hpp"

namespace skyrec {
namespace {

std::vector<std::uint8_t> octets(ByteView bytes, std::uint64_t from, std::uint64_t to) {
    if (to <= from || to > bytes.size) return {};
    return {bytes.data + from, bytes.data + to};
}

// The changes, met in order as values are added.
class Changes {
public:
    explicit Changes(std::span<const ValueChange> changes) : changes_(changes) {}
    // Adds the change for value `position` of `subset`, if one names it.
    bool add(FlatSlots& slots, std::size_t subset, std::size_t position) {
        if (next_ == changes_.size() || changes_[next_].subset != subset || changes_[next_].position != position) {
            return false;
        }
        const Slot& s = changes_[next_++].slot;
        switch (s.kind) {
            case Slot::Kind::Missing:
                slots.add_missing();
                break;
            case Slot::Kind::Raw:
                slots.add_raw(s.raw);
                break;
            case Slot::Kind::Number:
                slots.add_number(s.number);
                break;
            case Slot::Kind::Text:
                slots.add_text(s.text);
                break;
        }
        return true;
    }
    Status finish() const {
        if (next_ == changes_.size()) return Ok{};
        return no_such_value(changes_[next_]);
    }

private:
    std::span<const ValueChange> changes_;
    std::size_t next_ = 0;
};

void add_value(FlatSlots& slots, const DecodedValue& v, const RawCapture& capture, std::size_t text) {
    if (!v.has_raw) {
        const std::size_t start = text == 0 ? 0 : capture.text_ends[text - 1];
        const auto* p = reinterpret_cast<const char*>(capture.text_bytes.data());
        slots.add_text(std::string_view(p + start, capture.text_ends[text] - start));
    } else if (code_f(v.descriptor) == 2) {
        slots.add_missing();  // a marker
    } else if (!v.has_value) {
        slots.add_missing();
    } else {
        slots.add_raw(v.raw);
    }
}

}  // namespace

MessageHeader header_of(const BufrMessage& message, ByteView bytes, std::uint8_t edition) {
    MessageHeader header;
    header.fields = message;
    header.fields.edition = edition;
    const std::uint64_t s1 = 8;
    const std::uint64_t s2 = s1 + message.section1_length;
    if (message.local_section_present) header.section2 = octets(bytes, s2 + 4, s2 + message.section2_length);
    if (edition == message.edition) {
        header.section1_extra = octets(bytes, s1 + (edition == 4 ? 22 : 17), s2);
        header.even_section3 = message.section3_length % 2 == 0;
        header.even_section4 = message.section4_length % 2 == 0;
    }
    return header;
}

Result<FlatSlots> slots_of(const BufrMessage& message, ByteView bytes, const TableSet& tables,
                           std::span<const ValueChange> changes) {
    Changes changed(changes);
    RawCapture capture;
    std::vector<std::size_t> starts;
    auto values = decode_section4(message, tables, message.section4_data(bytes), &starts, &capture);
    if (!values) return std::move(values).error();
    FlatSlots slots;
    const std::size_t n = starts.size();
    slots.reserve(values->size() + capture.references.size() * (message.compressed_data ? n : 1), n);
    std::size_t text = 0;
    std::size_t next_reference = 0;
    const auto& refs = capture.references;
    if (!message.compressed_data) {
        for (std::size_t j = 0; j < n; ++j) {
            slots.start_subset();
            const std::size_t end = j + 1 < n ? starts[j + 1] : values->size();
            for (std::size_t i = starts[j]; i <= end; ++i) {
                while (next_reference < refs.size() && refs[next_reference].subset == j &&
                       refs[next_reference].before == i) {
                    slots.add_number(static_cast<double>(refs[next_reference++].reference));
                }
                if (i == end) break;
                const DecodedValue& v = (*values)[i];
                if (!changed.add(slots, j, i - starts[j])) add_value(slots, v, capture, text);
                if (!v.has_raw) ++text;
            }
        }
        SKYREC_CHECK(changed.finish());
        return slots;
    }
    // Compressed: subset j's k-th text is the capture's text k * n + j.
    const std::size_t columns = n == 0 ? 0 : values->size() / n;
    for (std::size_t j = 0; j < n; ++j) {
        slots.start_subset();
        std::size_t k = 0;
        next_reference = 0;
        for (std::size_t c = 0; c <= columns; ++c) {
            while (next_reference < refs.size() && refs[next_reference].before == c) {
                slots.add_number(static_cast<double>(refs[next_reference++].reference));
            }
            if (c == columns) break;
            const DecodedValue& v = (*values)[j * columns + c];
            if (!changed.add(slots, j, c)) add_value(slots, v, capture, k * n + j);
            if (!v.has_raw) ++k;
        }
    }
    SKYREC_CHECK(changed.finish());
    return slots;
}

}  // namespace skyrec
