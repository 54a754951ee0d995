// The operator, bitmap and history state of one decoding walk: one per
// subset for uncompressed data, one per message for compressed data.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "decode/element_ref.hpp"

namespace skyrec {

// A bitmap given inline, right after 222000, 223000, 224000, 225000 or
// 232000 without 236000: the next decoded element decides whether 031031
// elements define one.
struct InlineBitmap {
    enum class Phase : std::uint8_t { None, Pending, Collecting };
    Phase phase = Phase::None;
    std::uint64_t marker_history = 0;  // history length at the deciding marker
    bool anchored = false;             // a first inline bitmap has been defined since the start or 235000
    std::optional<std::uint64_t> anchor_offset;
};

// 203YYY: references that the message itself defines for some elements.
struct NewReference {
    DescriptorCode code;
    std::int64_t reference;
};

struct DecoderState {
    std::vector<std::uint8_t> bitmap;        // 1: data not present
    std::vector<const ElementRef*> history;  // Table B entries decoded so far (bitmap targets)
    std::int64_t reference_multiplier = 1;
    std::uint64_t bitmap_cursor = 0;
    std::uint64_t bitmap_base = 0;
    std::uint64_t string_counter = 0;
    std::uint64_t compressed_string_counter = 0;
    bool local_width_active = false;  // 206YYY, one-shot
    std::uint16_t local_width = 0;
    bool character_width_active = false;  // 208YYY
    std::uint16_t character_width = 0;    // bits
    std::int32_t width_change = 0;
    std::int32_t scale_change = 0;
    bool bitmap_collecting = false;  // 236000 seen
    std::uint8_t associated_width = 0;
    std::uint8_t new_reference_width = 0;  // 203YYY: elements now define references of this width
    std::vector<NewReference> new_references;

    InlineBitmap inline_bitmap;
    // Set for inline bitmaps after the first: their entries refer to the
    // same history entries as the first one's.
    std::optional<std::uint64_t> bitmap_fixed_offset;

    // Back to the initial state for the next subset; the string counter
    // carries on and the buffers keep their storage.
    void start_subset() {
        const std::uint64_t strings = string_counter;
        bitmap.clear();
        history.clear();
        std::vector<std::uint8_t> kept_bitmap = std::move(bitmap);
        std::vector<const ElementRef*> kept_history = std::move(history);
        new_references.clear();
        std::vector<NewReference> kept_references = std::move(new_references);
        *this = DecoderState{};
        bitmap = std::move(kept_bitmap);
        history = std::move(kept_history);
        new_references = std::move(kept_references);
        string_counter = strings;
    }
};

}  // namespace skyrec
