#include "encode/compressed_columns.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

#include "base/interrupt.hpp"
#include "decode/scaling.hpp"
#include "encode/text_field.hpp"

namespace skyrec {
namespace {

constexpr std::uint32_t kIncrementWidthBits = 6;

BufrError varies(const FieldPlan& field, std::size_t subset, const char* what) {
    BufrError error =
        BufrError::text(std::string("compressed data needs the same ") + what + " for " + descriptor_text(field.code) +
                        " in every subset; subset " + std::to_string(subset) + " differs from subset 0");
    error.set_subset(static_cast<std::uint32_t>(subset));
    return error;
}

// Each subset's raw integer of one numeric field, found once and written after.
struct ColumnRaws {
    std::vector<std::uint64_t> raw;
    std::vector<std::uint8_t> missing;
};

Status column_raws(const FieldPlan& field, const SlotSource& slots, const EncodeOptions& options, ColumnRaws& out) {
    const std::size_t n = slots.subsets();
    out.raw.resize(n);
    out.missing.resize(n);
    std::ptrdiff_t stride = 0;
    const double* numbers = field.is_count ? nullptr : slots.numbers(field.slot, stride);
    const std::uint64_t largest = largest_raw(field);
    for (std::size_t j = 0; j < n; ++j) {
        // The common case without a Slot or a Result: a number in range, or NaN.
        if (numbers != nullptr) {
            const double v = numbers[static_cast<std::ptrdiff_t>(j) * stride];
            if (std::isnan(v) && field.missing_recognised) {
                out.raw[j] = 0;
                out.missing[j] = 1;
                continue;
            }
            if (raw_of_number(v, field.shape, largest, out.raw[j])) {
                out.missing[j] = 0;
                continue;
            }
        }
        auto v = field_value(slots.at(j, field.slot), field, j, options);
        if (!v) return std::move(v).error();
        if (field.is_count && v->raw != out.raw[0] && j != 0) return varies(field, j, "replication count");
        out.raw[j] = v->raw;
        out.missing[j] = v->missing ? 1 : 0;
    }
    return Ok{};
}

Status write_numeric_column(const FieldPlan& field, const ColumnRaws& c, BitWriter& writer) {
    const std::size_t n = c.raw.size();
    std::uint64_t least = ~std::uint64_t{0};
    std::uint64_t most = 0;
    bool any_missing = false;
    for (std::size_t j = 0; j < n; ++j) {
        if (c.missing[j] != 0) {
            any_missing = true;
            continue;
        }
        least = std::min(least, c.raw[j]);
        most = std::max(most, c.raw[j]);
    }
    const std::uint32_t width = field.shape.width;
    if (least > most) {  // every subset missing
        writer.write(width, all_ones(width));
        writer.write(kIncrementWidthBits, 0);
        return Ok{};
    }
    if (least == most && !any_missing) {
        writer.write(width, least);
        writer.write(kIncrementWidthBits, 0);
        return Ok{};
    }
    // All ones marks a missing increment, so no difference may be all ones.
    const std::uint64_t span = most - least;
    const auto nbinc = static_cast<std::uint32_t>(std::bit_width(field.missing_recognised ? span + 1 : span));
    writer.write(width, least);
    writer.write(kIncrementWidthBits, nbinc);
    const std::uint64_t missing = all_ones(nbinc);
    for (std::size_t j = 0; j < n; ++j)
        writer.write(nbinc, c.missing[j] != 0 ? missing : c.raw[j] - least);
    return Ok{};
}

// Texts that differ take as many octets each as the longest needs, up to
// the width: what is left out is blank padding.
Status write_text_column(const FieldPlan& field, const SlotSource& slots, BitWriter& writer) {
    const std::size_t n = slots.subsets();
    std::vector<std::uint8_t> first;
    std::vector<std::uint8_t> text;
    SKYREC_CHECK(text_bytes(slots.at(0, field.slot), field, 0, first));
    bool equal = true;
    std::size_t longest = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const Slot slot = slots.at(j, field.slot);
        SKYREC_CHECK(text_bytes(slot, field, j, text));
        equal = equal && text == first;
        longest = std::max(longest, slot.kind == Slot::Kind::Text ? slot.text.size() : text.size());
    }
    const std::uint32_t width = field.shape.width;
    if (equal) {
        write_text_field(writer, first.data(), width);
        writer.write(kIncrementWidthBits, 0);
        return Ok{};
    }
    writer.write_bytes(std::vector<std::uint8_t>(first.size(), 0).data(), width / 8);
    if (width % 8 != 0) writer.write(width % 8, 0);
    writer.write(kIncrementWidthBits, longest);
    for (std::size_t j = 0; j < n; ++j) {
        (void)text_bytes(slots.at(j, field.slot), field, j, text);
        writer.write_bytes(text.data(), longest);
    }
    return Ok{};
}

Status write_fixed(const FieldPlan& field, const SlotSource& slots, BitWriter& writer) {
    auto first = reference_bits(slots.at(0, field.slot), field, 0);
    if (!first) return std::move(first).error();
    for (std::size_t j = 1; j < slots.subsets(); ++j) {
        auto v = reference_bits(slots.at(j, field.slot), field, j);
        if (!v) return std::move(v).error();
        if (*v != *first) return varies(field, j, "new reference");
    }
    writer.write(field.shape.width, *first);
    return Ok{};
}

}  // namespace

Status write_compressed(const std::vector<FieldPlan>& plan, const SlotSource& slots, const EncodeOptions& options,
                        BitWriter& writer) {
    ColumnRaws raws;
    for (std::size_t c = 0; c < plan.size(); ++c) {
        if (c % 256 == 0 && interrupt_requested()) return interrupted_error();
        const FieldPlan& field = plan[c];
        switch (field.kind) {
            case FieldPlan::Kind::Numeric:
                SKYREC_CHECK(column_raws(field, slots, options, raws));
                SKYREC_CHECK(write_numeric_column(field, raws, writer));
                break;
            case FieldPlan::Kind::Text:
                SKYREC_CHECK(write_text_column(field, slots, writer));
                break;
            case FieldPlan::Kind::Fixed:
                SKYREC_CHECK(write_fixed(field, slots, writer));
                break;
        }
    }
    return Ok{};
}

}  // namespace skyrec
