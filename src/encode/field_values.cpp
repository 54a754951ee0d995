// A slot made into the bits of its field: numbers scaled and checked
// against the width, texts padded, refusals that say which value it was.
#include <charconv>
#include <cmath>
#include <string>

#include "base/descriptor.hpp"
#include "decode/scaling.hpp"
#include "encode/encode_walk.hpp"
#include "encode/text_field.hpp"

namespace skyrec {
namespace {

std::string number_text(double v) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
    return std::string(buffer, end);
}

// "012101 airTemperature in subset 3"
std::string field_text(const FieldPlan& field, std::size_t subset) {
    std::string text = descriptor_text(field.code);
    if (field.key != nullptr && !field.key->empty()) text += " " + *field.key;
    return text + " in subset " + std::to_string(subset);
}

BufrError out_of_range(const FieldPlan& field, std::size_t subset, const std::string& value) {
    const double lo = scaled_value(0, field.shape.reference, field.shape.divisor);
    const double hi = scaled_value(largest_raw(field), field.shape.reference, field.shape.divisor);
    if (field.is_count) {
        return BufrError::text("replication count " + value + " is too large for " + field_text(field, subset) +
                               ": its " + std::to_string(field.shape.width) + " bits hold up to " + number_text(hi));
    }
    return BufrError::text("value " + value + " is out of range for " + field_text(field, subset) + ": " +
                           std::to_string(field.shape.width) + " bits hold " + number_text(lo) + " to " +
                           number_text(hi));
}

FieldValue missing_value(const FieldPlan& field) noexcept {
    FieldValue v{all_ones(field.shape.width), field.missing_recognised, std::nullopt};
    if (!field.missing_recognised) v.value = scaled_value(v.raw, field.shape.reference, field.shape.divisor);
    return v;
}

FieldValue present(const FieldPlan& field, std::uint64_t raw) noexcept {
    return {raw, false, scaled_value(raw, field.shape.reference, field.shape.divisor)};
}

}  // namespace

Result<FieldValue> field_value(const Slot& slot, const FieldPlan& field, std::size_t subset,
                               const EncodeOptions& options) {
    switch (slot.kind) {
        case Slot::Kind::Missing:
            return missing_value(field);
        case Slot::Kind::Text:
            return BufrError::text("text given for the number " + field_text(field, subset));
        case Slot::Kind::Raw:
            if (slot.raw > all_ones(field.shape.width)) {
                if (options.out_of_range_missing) return missing_value(field);
                return out_of_range(field, subset, "raw " + std::to_string(slot.raw));
            }
            // All ones stays a value: compressed data can hold it as one
            // (R0 plus an increment), and uncompressed data reads it missing.
            return present(field, slot.raw);
        case Slot::Kind::Number:
            break;
    }
    if (std::isnan(slot.number)) return missing_value(field);
    if (std::uint64_t raw; raw_of_number(slot.number, field.shape, largest_raw(field), raw)) return present(field, raw);
    if (options.out_of_range_missing) return missing_value(field);
    return out_of_range(field, subset, number_text(slot.number));
}

Status text_bytes(const Slot& slot, const FieldPlan& field, std::size_t subset, std::vector<std::uint8_t>& out) {
    const std::size_t n = (field.shape.width + 7) / 8;
    if (slot.kind == Slot::Kind::Missing) {
        out.assign(n, 0xFF);
        return Ok{};
    }
    if (slot.kind != Slot::Kind::Text) {
        return BufrError::text("number given for the text " + field_text(field, subset));
    }
    if (slot.text.size() > n) {
        return BufrError::text("text of " + std::to_string(slot.text.size()) + " bytes is too long for " +
                               field_text(field, subset) + ": it holds " + std::to_string(n));
    }
    out.assign(slot.text.begin(), slot.text.end());
    out.resize(n, ' ');
    return Ok{};
}

Result<std::uint64_t> reference_bits(const Slot& slot, const FieldPlan& field, std::size_t subset) {
    const std::uint32_t width = field.shape.width;
    if (slot.kind == Slot::Kind::Raw && slot.raw <= all_ones(width)) return slot.raw;
    if (slot.kind != Slot::Kind::Number || std::isnan(slot.number)) {
        return BufrError::text("a new reference for " + field_text(field, subset) + " needs a number");
    }
    const double magnitude = std::fabs(std::nearbyint(slot.number));
    const std::uint64_t largest = width == 0 ? 0 : all_ones(width - 1);
    if (!(magnitude <= static_cast<double>(largest))) {
        return BufrError::text("new reference " + number_text(slot.number) + " is out of range for " +
                               field_text(field, subset) + ": " + std::to_string(width) + " bits hold -" +
                               std::to_string(largest) + " to " + std::to_string(largest));
    }
    const auto bits = static_cast<std::uint64_t>(magnitude);
    return slot.number < 0 && bits != 0 ? bits | std::uint64_t{1} << (width - 1) : bits;
}

}  // namespace skyrec
