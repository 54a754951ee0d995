#include "decode/field_rules.hpp"

#include <algorithm>
#include <limits>

#include "decode/bitmap.hpp"
#include "decode/scaling.hpp"

namespace skyrec {
namespace {

std::int64_t wrapping_power_of_ten(std::uint32_t exponent) noexcept {
    std::uint64_t p = 1;
    for (std::uint32_t i = 0; i < exponent; ++i)
        p *= 10;
    return static_cast<std::int64_t>(p);
}

template <class References>
auto new_reference_at(References& refs, DescriptorCode code) {
    return std::lower_bound(refs.begin(), refs.end(), code,
                            [](const NewReference& r, DescriptorCode c) { return r.code < c; });
}

}  // namespace

FieldShape changed_shape(const DecoderState& state, const ElementRef& element, std::uint32_t width,
                         std::int64_t reference) noexcept {
    FieldShape shape{width, element.divisor, reference};
    if (state.local_width_active) {
        shape.width = state.local_width;
    } else if (element.kind == ElementKind::Numeric && state.width_change != 0) {
        const std::int64_t changed = std::int64_t{width} + state.width_change;
        shape.width = changed < 0 ? 0 : static_cast<std::uint32_t>(changed);
    }
    if (element.kind == ElementKind::Numeric && (state.scale_change != 0 || state.reference_multiplier != 1)) {
        shape.divisor = powers_of_ten(std::int64_t{element.def->scale} + state.scale_change);
        shape.reference = static_cast<std::int64_t>(static_cast<std::uint64_t>(state.reference_multiplier) *
                                                    static_cast<std::uint64_t>(reference));
    }
    return shape;
}

std::int64_t defined_reference_of(const DecoderState& state, const ElementRef& element) noexcept {
    const std::vector<NewReference>& refs = state.new_references;
    const auto it = new_reference_at(refs, element.def->code);
    return it != refs.end() && it->code == element.def->code ? it->reference : element.def->reference;
}

void define_new_reference(DecoderState& state, DescriptorCode code, std::int64_t reference) {
    std::vector<NewReference>& refs = state.new_references;
    const auto it = new_reference_at(refs, code);
    if (it != refs.end() && it->code == code) {
        it->reference = reference;
    } else {
        refs.insert(it, NewReference{code, reference});
    }
}

std::int64_t reference_from_bits(std::uint64_t raw, std::uint32_t width) noexcept {
    const std::uint64_t magnitude = width == 0 ? 0 : raw & all_ones(width - 1);
    const bool negative = width != 0 && (raw >> (width - 1) & 1) != 0;
    return negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
}

Result<const ElementRef*> bitmap_value_target(DecoderState& state) {
    const ElementRef* target = nullptr;
    switch (next_bitmap_target(state, target)) {
        case TargetStatus::None:
            return static_cast<const ElementRef*>(nullptr);
        case TargetStatus::OutsideHistory:
            return BufrError::text("bitmap reference is outside descriptor history");
        case TargetStatus::Found:
            break;
    }
    return target;
}

FieldShape bitmap_value_shape(const ElementRef& target, std::uint32_t x) noexcept {
    FieldShape shape{target.def->width, target.divisor, target.def->reference};
    if (x == 25) {
        // Differences: one bit wider, and centred on zero.
        const std::uint32_t w = shape.width;
        shape.width = w == std::numeric_limits<std::uint16_t>::max() ? w : w + 1;
        shape.reference = static_cast<std::int64_t>(0 - (w >= 64 ? 0 : std::uint64_t{1} << w));
    }
    return shape;
}

OperatorAction apply_operator(DecoderState& state, DescriptorCode code) {
    const std::uint32_t x = code_x(code);
    const std::uint32_t y = code_y(code) % 256;
    const auto change = static_cast<std::int32_t>(y) - 128;
    switch (x) {
        case 1:
            state.width_change = y == 0 ? 0 : change;
            return OperatorAction::None;
        case 2:
            state.scale_change = y == 0 ? 0 : change;
            return OperatorAction::None;
        case 3:
            // 255 ends the definitions; 0 also drops the references defined.
            state.new_reference_width = y == 255 ? 0 : static_cast<std::uint8_t>(y);
            if (y == 0) state.new_references.clear();
            return OperatorAction::None;
        case 4:
            state.associated_width = static_cast<std::uint8_t>(y);
            return OperatorAction::None;
        case 5:
            return y == 0 ? OperatorAction::None : OperatorAction::InsertedText;
        case 6:
            state.local_width_active = true;
            state.local_width = static_cast<std::uint16_t>(y);
            return OperatorAction::None;
        case 7:
            if (y == 0) {
                state.width_change = 0;
                state.scale_change = 0;
                state.reference_multiplier = 1;
            } else {
                state.scale_change = static_cast<std::int32_t>(y);
                state.width_change = static_cast<std::int32_t>((10 * y + 2) / 3);
                state.reference_multiplier = wrapping_power_of_ten(y);
            }
            return OperatorAction::None;
        case 8:
            state.character_width_active = y != 0;
            state.character_width = static_cast<std::uint16_t>(8 * y);
            return OperatorAction::None;
        case 22:
        case 36:
        case 62:
            if (y != 0) return OperatorAction::None;
            if (x == 36) {
                start_bitmap(state);
            } else if (x == 22) {
                expect_inline_bitmap(state);
            }
            return OperatorAction::Marker;
        case 23:
        case 24:
        case 25:
        case 32:
            if (y == 255) return OperatorAction::BitmapValue;
            if (y == 0) expect_inline_bitmap(state);
            return OperatorAction::Marker;
        case 26:
        case 27:
        case 29:
        case 30:
        case 31:
        case 33:
        case 34:
        case 35:
        case 37:
        case 38:
        case 39:
        case 40:
        case 41:
        case 42:
            if (x == 35 && y == 0) {
                cancel_bitmap(state);
            } else if (x == 37) {
                if (y == 0) {
                    rewind_bitmap(state);
                } else {
                    cancel_bitmap(state);
                }
            }
            return OperatorAction::Marker;
        default:
            return OperatorAction::None;
    }
}

}  // namespace skyrec
