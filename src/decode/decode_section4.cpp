#include "decode/decode_section4.hpp"

#include <algorithm>

#include "decode/walker.hpp"

namespace skyrec {
std::size_t expected_values(std::uint64_t bits) {
    return static_cast<std::size_t>(std::min<std::uint64_t>(bits / 10 + 16, std::uint64_t{1} << 22));
}

namespace {

Status walk_uncompressed(const BufrMessage& message, Walker& walker, std::vector<std::size_t>* subset_starts) {
    for (std::uint32_t subset = 0; subset < message.number_of_subsets; ++subset) {
        if (subset != 0) walker.start_subset();
        if (RawCapture* capture = walker.capture()) capture->subset = subset;
        if (FieldCopy* copy = walker.copy()) copy->start_subset(subset);
        if (subset_starts != nullptr) subset_starts->push_back(walker.value_count());
        if (!walker.walk(message.unexpanded_descriptors, 0)) {
            BufrError error = walker.take_error();
            error.set_subset(subset);
            return error;
        }
    }
    return Ok{};
}

// The walk yields columns, one value per subset each.
Result<CompressedSection> walk_compressed(const BufrMessage& message, const TableSet& tables, ByteView data, bool shown,
                                          RawCapture* capture = nullptr, ElementCache* cache = nullptr) {
    BitReader reader(data);
    CompressedSection section;
    section.data = data;
    section.subsets = message.number_of_subsets;
    Walker walker(tables, reader, message.number_of_subsets, section.columns, message.total_length, shown, cache);
    walker.capture_into(capture);
    if (!walker.walk(message.unexpanded_descriptors, 0)) return walker.take_error();
    return section;
}

}  // namespace

void push_compressed_starts(const CompressedSection& section, std::vector<std::size_t>& starts) {
    // Every subset has one value per column: replication counts are common to all.
    for (std::size_t j = 0; j < section.subsets; ++j)
        starts.push_back(j * section.columns.size());
}

Result<CompressedSection> walk_columns(const BufrMessage& message, const TableSet& tables, ByteView data) {
    return walk_compressed(message, tables, data, true);
}

Result<std::vector<DecodedValue>> decode_section4(const BufrMessage& message, const TableSet& tables, ByteView data,
                                                  std::vector<std::size_t>* subset_starts, RawCapture* capture) {
    if (subset_starts != nullptr) subset_starts->clear();
    std::vector<DecodedValue> values;
    if (!message.compressed_data) {
        BitReader reader(data);
        values.reserve(expected_values(reader.total()));
        Walker walker(tables, reader, values, nullptr, message.total_length, false);
        walker.capture_into(capture);
        SKYREC_CHECK(walk_uncompressed(message, walker, subset_starts));
        return values;
    }
    auto section = walk_compressed(message, tables, data, false, capture);
    if (!section) return std::move(section).error();
    if (subset_starts != nullptr) push_compressed_starts(*section, *subset_starts);
    values.reserve(section->value_count());
    visit_values(*section, [&](std::size_t, const ValueView& v) {
        values.push_back(DecodedValue{v.value, v.raw, v.name, v.meaning, v.has_text ? OwnedText(v.text) : OwnedText(),
                                      v.descriptor, v.has_value, v.has_raw});
        return true;
    });
    return values;
}

Status decode_section4_into(const BufrMessage& message, const TableSet& tables, ByteView data, Section4Sink& sink,
                            std::vector<std::size_t>* subset_starts, ElementCache* cache) {
    if (subset_starts != nullptr) subset_starts->clear();
    if (!message.compressed_data) {
        BitReader reader(data);
        std::vector<DecodedValue> batch;
        batch.reserve(std::min(expected_values(reader.total()), kBatchValues + 64));
        Walker walker(tables, reader, batch, &sink, message.total_length, sink.shows_values(), cache);
        SKYREC_CHECK(walk_uncompressed(message, walker, subset_starts));
        if (!walker.flush()) return walker.take_error();
        return Ok{};
    }
    auto section = walk_compressed(message, tables, data, sink.shows_values(), nullptr, cache);
    if (!section) return std::move(section).error();
    if (subset_starts != nullptr) push_compressed_starts(*section, *subset_starts);
    return sink.take_columns(*section);
}

Status copy_section4(const BufrMessage& message, const TableSet& tables, ByteView data, FieldCopy& copy) {
    if (message.compressed_data) return BufrError::text("a field by field copy takes uncompressed data");
    // Values are made as the walk needs them (bitmaps, counts) and dropped a batch at a time.
    struct Dropped final : Section4Sink {
        Status take_values(std::vector<DecodedValue>&) override { return Ok{}; }
        Status take_columns(const CompressedSection&) override {
            return BufrError::text("a field by field copy takes uncompressed data");
        }
    } dropped;
    BitReader reader(data);
    std::vector<DecodedValue> batch;
    batch.reserve(kBatchValues + 64);
    Walker walker(tables, reader, batch, &dropped, message.total_length, false);
    walker.copy_into(&copy);
    return walk_uncompressed(message, walker, nullptr);
}

}  // namespace skyrec
