#include "decode/decode_section4.hpp"

#include <algorithm>

#include "decode/walker.hpp"

namespace skyrec {
namespace {

// A first guess at the number of values, to spare most regrowth.
std::size_t expected_values(const BufrMessage& message, std::uint64_t bits) {
    const std::uint64_t guess = message.compressed_data ? bits / 8 : bits / 10;
    return static_cast<std::size_t>(std::min<std::uint64_t>(guess + 16, std::uint64_t{1} << 22));
}

Result<std::vector<DecodedValue>> decode_uncompressed(const BufrMessage& message, const TableSet& tables,
                                                      BitReader& reader, std::vector<std::size_t>* subset_starts) {
    std::vector<DecodedValue> values;
    values.reserve(expected_values(message, reader.total()));
    Walker walker(tables, reader, false, message.number_of_subsets, values);
    for (std::uint32_t subset = 0; subset < message.number_of_subsets; ++subset) {
        if (subset != 0) walker.state().start_subset();
        if (subset_starts != nullptr) subset_starts->push_back(values.size());
        if (!walker.walk(message.unexpanded_descriptors, 0)) return walker.take_error();
    }
    return values;
}

// The walk yields columns, one value per subset each; the result is subset
// after subset, each in column order.
Result<std::vector<DecodedValue>> decode_compressed(const BufrMessage& message, const TableSet& tables,
                                                    BitReader& reader, std::vector<std::size_t>* subset_starts) {
    const std::size_t subsets = message.number_of_subsets;
    std::vector<DecodedValue> columns;
    columns.reserve(expected_values(message, reader.total()));
    Walker walker(tables, reader, true, message.number_of_subsets, columns);
    if (!walker.walk(message.unexpanded_descriptors, 0)) return walker.take_error();
    if (subsets == 0) return std::vector<DecodedValue>{};

    // Every subset has one value per column: replication counts are common to all.
    const std::size_t column_count = columns.size() / subsets;
    if (subset_starts != nullptr) {
        for (std::size_t j = 0; j < subsets; ++j)
            subset_starts->push_back(j * column_count);
    }
    std::vector<DecodedValue> values;
    values.reserve(columns.size());
    for (std::size_t j = 0; j < subsets; ++j) {
        for (std::size_t c = 0; c < column_count; ++c)
            values.push_back(std::move(columns[c * subsets + j]));
    }
    return values;
}

}  // namespace

Result<std::vector<DecodedValue>> decode_section4(const BufrMessage& message, const TableSet& tables, ByteView data,
                                                  std::vector<std::size_t>* subset_starts) {
    BitReader reader(data);
    if (subset_starts != nullptr) subset_starts->clear();
    if (message.compressed_data) return decode_compressed(message, tables, reader, subset_starts);
    return decode_uncompressed(message, tables, reader, subset_starts);
}

}  // namespace skyrec
