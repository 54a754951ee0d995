#include "decode/bitmap.hpp"

namespace skyrec {
namespace {

// Which history entry bitmap entry 0 refers to.
std::uint64_t bitmap_offset(const DecoderState& state) noexcept {
    if (state.bitmap_fixed_offset) return *state.bitmap_fixed_offset;
    const std::uint64_t n = state.bitmap.size();
    return n <= state.bitmap_base ? state.bitmap_base - n : 0;
}

void start_inline_bitmap(DecoderState& state) {
    InlineBitmap& in = state.inline_bitmap;
    if (!in.anchored) {
        in.anchored = true;
        state.bitmap_base = in.marker_history;
        state.bitmap_fixed_offset.reset();
    } else {
        // The first inline bitmap is still the current one until now.
        if (!in.anchor_offset) in.anchor_offset = bitmap_offset(state);
        state.bitmap_fixed_offset = in.anchor_offset;
    }
    state.bitmap.clear();
    state.bitmap_cursor = 0;
    in.phase = InlineBitmap::Phase::Collecting;
}

}  // namespace

void start_bitmap(DecoderState& state) {
    state.bitmap_collecting = true;
    state.bitmap.clear();
    state.bitmap_cursor = 0;
    state.bitmap_base = state.history.size();
    state.bitmap_fixed_offset.reset();
    state.inline_bitmap.phase = InlineBitmap::Phase::None;
}

void rewind_bitmap(DecoderState& state) {
    state.bitmap_cursor = 0;
    state.inline_bitmap.phase = InlineBitmap::Phase::None;
}

void cancel_bitmap(DecoderState& state) {
    state.bitmap.clear();
    state.bitmap_cursor = 0;
    state.bitmap_base = 0;
    state.bitmap_fixed_offset.reset();
    state.inline_bitmap = InlineBitmap{};
}

void expect_inline_bitmap(DecoderState& state) {
    if (state.bitmap_collecting) return;
    state.inline_bitmap.phase = InlineBitmap::Phase::Pending;
    state.inline_bitmap.marker_history = state.history.size();
}

bool element_feeds_bitmap_slow(DecoderState& state, DescriptorCode code) {
    InlineBitmap& in = state.inline_bitmap;
    const bool indicator = code == kDataPresentIndicator;
    if (in.phase != InlineBitmap::Phase::None) {
        if (!indicator) {
            in.phase = InlineBitmap::Phase::None;
        } else if (in.phase == InlineBitmap::Phase::Pending) {
            start_inline_bitmap(state);
        }
    }
    return indicator && (state.bitmap_collecting || in.phase == InlineBitmap::Phase::Collecting);
}

void add_bitmap_entry(DecoderState& state, double value) {
    std::uint8_t entry = 0;
    if (value >= 255.0) {
        entry = 255;
    } else if (value > 0.0) {
        entry = static_cast<std::uint8_t>(value);
    }
    state.bitmap.push_back(entry);
}

TargetStatus next_bitmap_target(DecoderState& state, const ElementRef*& target) {
    const std::uint64_t n = state.bitmap.size();
    if (n == 0) return TargetStatus::None;
    const std::uint64_t offset = bitmap_offset(state);
    while (state.bitmap_cursor < n) {
        const std::uint64_t index = state.bitmap_cursor++;
        if (state.bitmap[index] == 1) continue;
        const std::uint64_t at = offset + index;
        if (at >= state.history.size()) return TargetStatus::OutsideHistory;
        target = state.history[at];
        return TargetStatus::Found;
    }
    return TargetStatus::None;
}

}  // namespace skyrec
