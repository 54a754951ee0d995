// Data-present bitmaps: their definition (236000, or inline after 222000 and
// its kin), rewinding and cancelling, and the walk over their targets.
#pragma once

#include <cstdint>
#include <optional>

#include "decode/decoder_state.hpp"

namespace skyrec {

inline constexpr DescriptorCode kDataPresentIndicator = 31031;

// 236000: collect every later 031031 into a new bitmap over the last
// entries of the history.
void start_bitmap(DecoderState& state);
// 237000: use the bitmap again from its start.
void rewind_bitmap(DecoderState& state);
// 235000 and 237YYY (Y not 0): drop the bitmap.
void cancel_bitmap(DecoderState& state);
// After the Y = 0 marker of 222, 223, 224, 225 or 232.
void expect_inline_bitmap(DecoderState& state);

// Called for each plain element step before its value is read; true when
// the element (a 031031) feeds the bitmap instead of the history.
bool element_feeds_bitmap_slow(DecoderState& state, DescriptorCode code);
inline bool element_feeds_bitmap(DecoderState& state, DescriptorCode code) {
    // Most elements are neither 031031 nor right after an inline bitmap's marker.
    if (code != kDataPresentIndicator && state.inline_bitmap.phase == InlineBitmap::Phase::None) return false;
    return element_feeds_bitmap_slow(state, code);
}

// One bitmap entry from a 031031 value, clamped to 0..255.
void add_bitmap_entry(DecoderState& state, double value);

// The history entry that the next present bitmap entry refers to.
enum class TargetStatus : std::uint8_t { None, Found, OutsideHistory };
TargetStatus next_bitmap_target(DecoderState& state, const ElementRef*& target);

}  // namespace skyrec
