// Decoding the first message of arbitrary bytes against the fixed table set,
// as decode_values_with_tables does, then the same message through the sink
// that the Python list builder uses and into block columns, as the package's
// readers do. Both decodes must agree value for value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "columns/block_columns.hpp"
#include "decode/decode_section4.hpp"
#include "fixed_tables.hpp"
#include "message/limits.hpp"
#include "message/scan.hpp"

namespace {

using skyrec::DecodedValue;

bool same(const DecodedValue& a, double value, std::uint64_t raw, std::string_view text, bool has_text,
          skyrec::DescriptorCode descriptor, bool has_value, bool has_raw) {
    const bool values_agree = !a.has_value || a.value == value || (std::isnan(a.value) && std::isnan(value));
    return a.descriptor == descriptor && a.has_value == has_value && a.has_raw == has_raw && values_agree &&
           (!a.has_raw || a.raw == raw) && a.text.present() == has_text && a.text.view() == text;
}

// Compares what the decoder hands over with the values decoded before.
class CheckingSink : public skyrec::Section4Sink {
public:
    explicit CheckingSink(const std::vector<DecodedValue>& expected) : expected_(expected) {}

    bool take_values(std::vector<DecodedValue>& batch) override {
        for (const DecodedValue& v : batch) {
            if (seen_ >= expected_.size() || !same(expected_[seen_], v.value, v.raw, v.text.view(), v.text.present(),
                                                   v.descriptor, v.has_value, v.has_raw)) {
                __builtin_trap();
            }
            ++seen_;
        }
        return true;
    }
    bool take_columns(const skyrec::CompressedSection& section) override {
        return skyrec::visit_values(section, [&](std::size_t, const skyrec::ValueView& v) {
            if (seen_ >= expected_.size() ||
                !same(expected_[seen_], v.value, v.raw, v.text, v.has_text, v.descriptor, v.has_value, v.has_raw)) {
                __builtin_trap();
            }
            ++seen_;
            return true;
        });
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
    if (values->size() > skyrec::kMaxDecodedValues || starts.size() != message->number_of_subsets) __builtin_trap();
    for (std::size_t i = 0; i < starts.size(); ++i) {
        if (starts[i] > values->size() || (i != 0 && starts[i] < starts[i - 1])) __builtin_trap();
    }

    CheckingSink sink(*values);
    if (!skyrec::decode_section4_into(*message, tables, section4, sink) || sink.seen() != values->size()) {
        __builtin_trap();
    }

    skyrec::BlockBuilder builder;
    builder.append(tables, *values, starts);
    const skyrec::BlockColumns block = builder.take();
    if (block.size() != values->size()) __builtin_trap();
    std::vector<std::uint32_t> descriptor(block.size()), subset(block.size());
    std::vector<double> value(block.size());
    std::vector<std::uint64_t> raw(block.size());
    std::vector<std::uint8_t> raw_present(block.size());
    std::vector<std::int32_t> element(block.size()), text(block.size()), meaning(block.size());
    block.copy_to({descriptor.data(), value.data(), raw.data(), raw_present.data(), subset.data(), element.data(),
                   text.data(), meaning.data()});
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (element[i] < 0 || static_cast<std::size_t>(element[i]) >= block.element_names.size()) __builtin_trap();
        if (text[i] >= 0 && static_cast<std::size_t>(text[i]) >= block.texts.size()) __builtin_trap();
        if (meaning[i] >= 0 && static_cast<std::size_t>(meaning[i]) >= block.meanings.size()) __builtin_trap();
    }
    return 0;
}
