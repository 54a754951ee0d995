// Decoding the first message of arbitrary bytes against the fixed table set,
// as decode_values_with_tables does, then the same message through the sink
// that the Python list builder uses and, twice, into block columns, as the
// package's readers do. Every decode must agree value for value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/limits.hpp"
#include "decode/decode_section4.hpp"
#include "fixed_tables.hpp"
#include "message/scan.hpp"
#include "sinks/block_columns.hpp"
#include "sinks/shown_values.hpp"

namespace {

using skyrec::DecodedValue;

bool same(const DecodedValue& a, double value, std::uint64_t raw, std::string_view text, bool has_text,
          skyrec::DescriptorCode descriptor, bool has_value, bool has_raw) {
    const bool values_agree = !a.has_value || a.value == value || (std::isnan(a.value) && std::isnan(value));
    return a.descriptor == descriptor && a.has_value == has_value && a.has_raw == has_raw && values_agree &&
           (!a.has_raw || a.raw == raw) && a.text.present() == has_text && a.text.view() == text;
}

// Whether a block row shows `a` as the package's outputs show it: a number
// only where the value is one, texts without their padding.
bool shown_alike(const DecodedValue& a, double value, std::uint64_t raw, std::string_view text, bool has_text,
                 skyrec::DescriptorCode descriptor, bool raw_present) {
    const bool number = skyrec::shows_number(a);
    // A shown 031021 of all ones is missing where the flat list keeps its number.
    const bool values_agree = number ? (a.value == value || (std::isnan(a.value) && std::isnan(value)) ||
                                        (a.descriptor == 31021 && std::isnan(value)))
                                     : std::isnan(value);
    const bool raw_shown = skyrec::shows_raw(a);
    return a.descriptor == descriptor && values_agree && raw_present == raw_shown && (!raw_shown || a.raw == raw) &&
           a.text.present() == has_text && (!has_text || skyrec::shown_text(a.text.view()) == text);
}

// Compares what the decoder hands over with the values decoded before.
class CheckingSink : public skyrec::Section4Sink {
public:
    explicit CheckingSink(const std::vector<DecodedValue>& expected) : expected_(expected) {}
    bool shows_values() const noexcept override { return false; }  // the values as the flat list holds them

    skyrec::Status take_values(std::vector<DecodedValue>& batch) override {
        for (const DecodedValue& v : batch) {
            if (seen_ >= expected_.size() || !same(expected_[seen_], v.value, v.raw, v.text.view(), v.text.present(),
                                                   v.descriptor, v.has_value, v.has_raw)) {
                __builtin_trap();
            }
            ++seen_;
        }
        return skyrec::Ok{};
    }
    skyrec::Status take_columns(const skyrec::CompressedSection& section) override {
        skyrec::visit_values(section, [&](std::size_t, const skyrec::ValueView& v) {
            if (seen_ >= expected_.size() ||
                !same(expected_[seen_], v.value, v.raw, v.text, v.has_text, v.descriptor, v.has_value, v.has_raw)) {
                __builtin_trap();
            }
            ++seen_;
            return true;
        });
        return skyrec::Ok{};
    }
    std::size_t seen() const noexcept { return seen_; }

private:
    const std::vector<DecodedValue>& expected_;
    std::size_t seen_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const skyrec::ByteView buffer{data, size};
    auto slices = skyrec::scan_messages(buffer);
    if (!slices || slices->empty()) return 0;
    const skyrec::ByteView bytes = slices->front().in(buffer);
    auto message = skyrec::frame_message(bytes);
    if (!message) return 0;
    const skyrec::TableSet& tables = fuzz::fixed_tables();
    const skyrec::ByteView section4 = message->section4_data(bytes);

    std::vector<std::size_t> starts;
    auto values = skyrec::decode_section4(*message, tables, section4, &starts);
    if (!values) {
        (void)values.error().message();
        return 0;
    }
    if (values->size() > skyrec::allowance_for(message->total_length).values ||
        starts.size() != message->number_of_subsets)
        __builtin_trap();
    for (std::size_t i = 0; i < starts.size(); ++i) {
        if (starts[i] > values->size() || (i != 0 && starts[i] < starts[i - 1])) __builtin_trap();
    }

    CheckingSink sink(*values);
    if (!skyrec::decode_section4_into(*message, tables, section4, sink) || sink.seen() != values->size()) {
        __builtin_trap();
    }

    // Into block columns, after a first copy of the same message: the
    // second copy's rows must agree with the values and share the codes.
    skyrec::BlockBuilder builder;
    const std::size_t n = values->size();
    if (!builder.append(*message, tables, section4, bytes.size, {0, 0, 0})) __builtin_trap();
    if (!builder.append(*message, tables, section4, bytes.size, {0, 1, 0})) {
        // Only the bound of a block refuses a message that decoded alone; the
        // block is then as it was.
        if (2 * n <= skyrec::kFloor.values + skyrec::kMaxBlockValuesPerByte * 2 * bytes.size || builder.size() != n)
            __builtin_trap();
        return 0;
    }
    skyrec::BlockColumns block = builder.take();
    if (block.size() != 2 * n) __builtin_trap();
    std::size_t subset = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const DecodedValue& v = (*values)[i];
        const std::size_t row = n + i;
        while (subset + 1 < starts.size() && starts[subset + 1] <= i)
            ++subset;
        const bool has_text = block.text[row] != skyrec::kNoCategory;
        const std::string* meaning = std::isnan(block.value[row]) ? nullptr : v.meaning;  // none when missing
        const std::string_view text =
            has_text ? std::string_view(block.texts.at(static_cast<std::size_t>(block.text[row]))) : "";
        if (!shown_alike(v, block.value[row], block.raw[row], text, has_text, block.descriptor[row],
                         block.raw_present[row] != 0) ||
            block.subset[row] != subset || block.message[row] != 1 ||
            block.names.at(static_cast<std::size_t>(block.name[row])) != *v.name || block.name[row] != block.name[i] ||
            block.unit[row] != block.unit[i] || block.meaning[row] != block.meaning[i] ||
            block.text[row] != block.text[i] || static_cast<std::size_t>(block.unit[row]) >= block.units.size() ||
            (meaning != nullptr) != (block.meaning[row] != skyrec::kNoCategory) ||
            (meaning != nullptr && block.meanings.at(static_cast<std::size_t>(block.meaning[row])) != *meaning)) {
            __builtin_trap();
        }
    }
    // Narrowed codes read back as they were.
    const std::vector<std::int32_t> texts(block.text.data(), block.text.data() + block.size());
    block.narrow();
    const std::size_t width = block.code_width(block.texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto* at = reinterpret_cast<const unsigned char*>(block.text.data()) + i * width;
        std::int8_t one = 0;
        std::int16_t two = 0;
        std::int32_t four = 0;
        std::memcpy(width == 1 ? static_cast<void*>(&one) : width == 2 ? static_cast<void*>(&two) : &four, at, width);
        if ((width == 1 ? one : width == 2 ? two : four) != texts[i]) __builtin_trap();
    }
    return 0;
}
