// The rules that turn the operators in force into an element's field: its
// width, scale and reference, and the settings each Table C operator
// changes. The decoder reads by them and the encoder writes by them, so a
// message written is read back field for field.
#pragma once

#include <cstdint>

#include "base/result.hpp"
#include "decode/decoder_state.hpp"
#include "decode/element_ref.hpp"

namespace skyrec {

// Where a numeric element's bits lie and how they scale.
struct FieldShape {
    std::uint32_t width = 0;
    double divisor = 1.0;
    std::int64_t reference = 0;
};

// Whether every element's field is its entry's: none of 201, 202, 203, 204,
// 206 and 207 in force, no reference defined, no inline bitmap about to
// start. The walk asks once per operator instead of once per element.
inline bool entry_fields(const DecoderState& state) noexcept {
    return !state.local_width_active && state.width_change == 0 && state.scale_change == 0 &&
           state.reference_multiplier == 1 && state.associated_width == 0 && state.new_reference_width == 0 &&
           state.new_references.empty() && state.inline_bitmap.phase == InlineBitmap::Phase::None;
}

// A numeric element (or code or flag table) at the current state, from the
// width and reference it would have without 201, 202, 206 and 207.
FieldShape changed_shape(const DecoderState& state, const ElementRef& element, std::uint32_t width,
                         std::int64_t reference) noexcept;
inline FieldShape numeric_shape(const DecoderState& state, const ElementRef& element, std::uint32_t width,
                                std::int64_t reference) noexcept {
    // Most elements are read while none of those operators is in force.
    if (!state.local_width_active && state.width_change == 0 && state.scale_change == 0 &&
        state.reference_multiplier == 1) [[likely]] {
        return {width, element.divisor, reference};
    }
    return changed_shape(state, element, width, reference);
}

// The bits of a character element (208YYY overrides its entry).
inline std::uint32_t character_width(const DecoderState& state, std::uint32_t width) noexcept {
    return state.character_width_active ? state.character_width : width;
}

// After 206YYY: whether `element` (nullptr: in no table) was written from
// another table, so that its YYY bits are a plain integer.
inline bool plain_under_local_width(const DecoderState& state, const ElementRef* element) noexcept {
    return state.local_width_active && (element == nullptr || (element->kind != ElementKind::Character &&
                                                               element->def->width != state.local_width));
}

// The history entry that the next 2YY255 value refers to (nullptr when the
// bitmap has none left), or the error when it lies outside the history.
Result<const ElementRef*> bitmap_value_target(DecoderState& state);

// The reference 203YYY gave the element, else its entry's.
std::int64_t defined_reference_of(const DecoderState& state, const ElementRef& element) noexcept;
inline std::int64_t reference_of(const DecoderState& state, const ElementRef& element) noexcept {
    if (state.new_references.empty()) [[likely]]
        return element.def->reference;
    return defined_reference_of(state, element);
}

// Records a reference defined under 203YYY, kept in code order.
void define_new_reference(DecoderState& state, DescriptorCode code, std::int64_t reference);

// 203YYY holds a reference in sign and magnitude, not two's complement.
std::int64_t reference_from_bits(std::uint64_t raw, std::uint32_t width) noexcept;

// The field of a 2YY255 value that a bitmap refers to `target` with.
FieldShape bitmap_value_shape(const ElementRef& target, std::uint32_t x) noexcept;

// What an operator leaves the walk to do once its settings are changed.
enum class OperatorAction : std::uint8_t {
    None,          // nothing read, nothing appended
    Marker,        // a marker value, no bits
    InsertedText,  // 205YYY: YYY bytes of text
    BitmapValue,   // 2YY255: the value of the next bitmap target
};

// Changes `state` as `code` (F = 2) says and returns the rest of its work.
OperatorAction apply_operator(DecoderState& state, DescriptorCode code);

}  // namespace skyrec
