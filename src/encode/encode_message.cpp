#include "encode/encode_message.hpp"

#include <string>

#include "encode/compressed_columns.hpp"
#include "message/scan.hpp"
#include "message/section1.hpp"

namespace skyrec {
namespace {

constexpr std::uint64_t kMaxLength = 0xFFFFFF;  // section 0 holds the length in 24 bits
constexpr std::uint64_t kStepFloor = 4096;
constexpr std::uint64_t kStepsPerSlot = 64;

void put_u16(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t v) {
    out[at] = static_cast<std::uint8_t>(v >> 8);
    out[at + 1] = static_cast<std::uint8_t>(v);
}
void put_u24(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t v) {
    out[at] = static_cast<std::uint8_t>(v >> 16);
    put_u16(out, at + 1, v);
}

Status check_header(const BufrMessage& f, std::size_t subsets) {
    if (f.edition < 2 || f.edition > 4) {
        return BufrError::text("cannot write BUFR edition " + std::to_string(f.edition) + "; only 2, 3 and 4");
    }
    if (subsets > 0xFFFF) return BufrError::text(std::to_string(subsets) + " subsets are more than 65535");
    if (f.edition == 2 && f.originating_subcentre != 0) {
        return BufrError::text("edition 2 holds no sub-centre: its centre takes both octets");
    }
    if (f.edition == 3 && (f.originating_centre > 255 || f.originating_subcentre > 255)) {
        return BufrError::text("edition 3 holds centres and sub-centres up to 255");
    }
    if (f.edition < 4) {
        if (f.typical_year < 2000 || f.typical_year > 2255) {
            return BufrError::text("edition " + std::to_string(f.edition) + " holds typical years 2000 to 2255, not " +
                                   std::to_string(f.typical_year));
        }
    }
    return Ok{};
}

// Section 1 as framing reads it (message/section1.cpp), then its extra octets.
void put_section1(std::vector<std::uint8_t>& out, const MessageHeader& header) {
    const BufrMessage& f = header.fields;
    const std::size_t at = out.size();
    const Section1Layout layout = section1_layout(f.edition);
    // Editions 2 and 3: octet 18 only pads, where no extra octets follow.
    const bool padded = f.edition < 4 && header.section1_extra.empty();
    out.resize(at + layout.fixed_end - kSection0Length + (padded ? 1 : 0));
    write_section1(out.data() + at, f);
    out[at + layout.flags_offset - kSection0Length] = header.section2.has_value() ? 0x80 : 0;
    out.insert(out.end(), header.section1_extra.begin(), header.section1_extra.end());
    if (f.edition < 4 && (out.size() - at) % 2 != 0) out.push_back(0);
    put_u24(out, at, out.size() - at);
}

void put_section2(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& local, bool even) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    out.insert(out.end(), local.begin(), local.end());
    if (even && (out.size() - at) % 2 != 0) out.push_back(0);
    put_u24(out, at, out.size() - at);
}

void put_section3(std::vector<std::uint8_t>& out, const BufrMessage& f, std::span<const DescriptorCode> descriptors,
                  std::size_t subsets, bool even) {
    const std::size_t at = out.size();
    out.resize(at + 7 + 2 * descriptors.size());
    put_u16(out, at + 4, subsets);
    out[at + 6] = static_cast<std::uint8_t>((f.observed_data ? 0x80 : 0) | (f.compressed_data ? 0x40 : 0));
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
        const DescriptorCode c = descriptors[i];
        put_u16(out, at + 7 + 2 * i, (code_f(c) << 14) | (code_x(c) << 8) | code_y(c));
    }
    if (even && (out.size() - at) % 2 != 0) out.push_back(0);
    put_u24(out, at, out.size() - at);
}

Status check_descriptors(std::span<const DescriptorCode> descriptors) {
    for (const DescriptorCode c : descriptors) {
        if (code_f(c) > 3 || code_x(c) > 63 || code_y(c) > 255) return BufrError::invalid_descriptor(c);
    }
    return Ok{};
}

// Section 4's data from slots, the walk's work bounded by what it is given.
Status put_data(BitWriter& writer, const BufrMessage& f, std::span<const DescriptorCode> descriptors,
                const TableSet& tables, const SlotSource& slots, const EncodeOptions& options) {
    std::uint64_t given = descriptors.size();
    for (std::size_t j = 0; j < slots.subsets(); ++j)
        given += slots.size(j);
    const std::uint64_t allowance = kStepFloor + kStepsPerSlot * given;
    if (!f.compressed_data) {
        EncodeWalker walker(tables, slots, options, writer, allowance);
        for (std::size_t j = 0; j < slots.subsets(); ++j)
            SKYREC_CHECK(walker.subset(descriptors, j));
    } else {
        if (slots.subsets() == 0) return BufrError::text("compressed data needs at least one subset");
        for (std::size_t j = 1; j < slots.subsets(); ++j) {
            if (slots.size(j) != slots.size(0)) {
                BufrError error = BufrError::text(
                    "compressed data needs the same number of values in every subset; subset " + std::to_string(j) +
                    " has " + std::to_string(slots.size(j)) + ", subset 0 has " + std::to_string(slots.size(0)));
                error.set_subset(static_cast<std::uint32_t>(j));
                return error;
            }
        }
        std::vector<FieldPlan> plan;
        EncodeWalker walker(tables, slots, options, plan, allowance);
        SKYREC_CHECK(walker.subset(descriptors, 0));
        SKYREC_CHECK(write_compressed(plan, slots, options, writer));
    }
    return Ok{};
}

class SlotData final : public SectionData {
public:
    SlotData(const BufrMessage& fields, std::span<const DescriptorCode> descriptors, const TableSet& tables,
             const SlotSource& slots, const EncodeOptions& options)
        : fields_(fields), descriptors_(descriptors), tables_(tables), slots_(slots), options_(options) {}
    std::size_t subsets() const override { return slots_.subsets(); }
    Status write(BitWriter& writer) const override {
        return put_data(writer, fields_, descriptors_, tables_, slots_, options_);
    }

private:
    const BufrMessage& fields_;
    std::span<const DescriptorCode> descriptors_;
    const TableSet& tables_;
    const SlotSource& slots_;
    const EncodeOptions& options_;
};

}  // namespace

Result<std::vector<std::uint8_t>> encode_message(const MessageHeader& header,
                                                 std::span<const DescriptorCode> descriptors, const TableSet& tables,
                                                 const SlotSource& slots, const EncodeOptions& options) {
    return encode_message(header, descriptors, SlotData(header.fields, descriptors, tables, slots, options));
}

Result<std::vector<std::uint8_t>> encode_message(const MessageHeader& header,
                                                 std::span<const DescriptorCode> descriptors, const SectionData& data) {
    const BufrMessage& f = header.fields;
    SKYREC_CHECK(check_header(f, data.subsets()));
    SKYREC_CHECK(check_descriptors(descriptors));
    const bool ed3 = f.edition < 4;  // editions 2 and 3 pad every section to an even length
    std::vector<std::uint8_t> out = {'B', 'U', 'F', 'R', 0, 0, 0, f.edition};
    const std::size_t sections = 8 + 64 + header.section1_extra.size() + 2 * descriptors.size() + 4;
    out.reserve(sections + (header.section2 ? header.section2->size() : 0) + data.size_hint());
    put_section1(out, header);
    if (header.section2) put_section2(out, *header.section2, ed3);
    put_section3(out, f, descriptors, data.subsets(), header.even_section3.value_or(ed3));
    const std::size_t s4 = out.size();
    out.resize(s4 + 4);
    BitWriter writer(out);
    SKYREC_CHECK(data.write(writer));
    writer.finish();
    if (header.even_section4.value_or(ed3) && (out.size() - s4) % 2 != 0) out.push_back(0);
    put_u24(out, s4, out.size() - s4);
    out.insert(out.end(), {'7', '7', '7', '7'});
    if (out.size() > kMaxLength) {
        return BufrError::text("the message would be " + std::to_string(out.size()) +
                               " bytes, more than BUFR's 16777215");
    }
    put_u24(out, 4, out.size());
    return out;
}

}  // namespace skyrec
