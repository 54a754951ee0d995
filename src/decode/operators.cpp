// Table C operators: the settings they change, the markers they leave, and
// the values that bitmaps refer back to.
#include <limits>

#include "decode/bitmap.hpp"
#include "decode/walker.hpp"

namespace skyrec {
namespace {

std::int64_t wrapping_power_of_ten(std::uint32_t exponent) noexcept {
    std::uint64_t p = 1;
    for (std::uint32_t i = 0; i < exponent; ++i)
        p *= 10;
    return static_cast<std::int64_t>(p);
}

}  // namespace

bool Walker::append_markers(DescriptorCode code) {
    if (!make_room()) return false;
    if (compressed_) {
        Column& column = columns_->emplace_back();
        column.kind = Column::Kind::Marker;
        column.code = code;
        column.name = &operator_name();
        return true;
    }
    DecodedValue& v = values_->emplace_back();
    v.has_value = true;
    v.has_raw = true;
    v.name = &operator_name();
    v.descriptor = code;
    return true;
}

bool Walker::operator_step(DescriptorCode code) {
    const std::uint32_t x = code_x(code);
    const std::uint32_t y = code_y(code) % 256;
    const auto change = static_cast<std::int32_t>(y) - 128;
    switch (x) {
        case 1:
            state_.width_change = y == 0 ? 0 : change;
            return true;
        case 2:
            state_.scale_change = y == 0 ? 0 : change;
            return true;
        case 3:
            // 255 ends the definitions; 0 also drops the references defined.
            state_.new_reference_width = y == 255 ? 0 : static_cast<std::uint8_t>(y);
            if (y == 0) state_.new_references.clear();
            return true;
        case 4:
            state_.associated_width = static_cast<std::uint8_t>(y);
            return true;
        case 5:
            // Characters inserted by the operator itself: y bytes of text.
            return y == 0 || read_character(code, inserted_text_name(), y * 8);
        case 6:
            state_.local_width_active = true;
            state_.local_width = static_cast<std::uint16_t>(y);
            return true;
        case 7:
            if (y == 0) {
                state_.width_change = 0;
                state_.scale_change = 0;
                state_.reference_multiplier = 1;
            } else {
                state_.scale_change = static_cast<std::int32_t>(y);
                state_.width_change = static_cast<std::int32_t>((10 * y + 2) / 3);
                state_.reference_multiplier = wrapping_power_of_ten(y);
            }
            return true;
        case 8:
            state_.character_width_active = y != 0;
            state_.character_width = static_cast<std::uint16_t>(8 * y);
            return true;
        case 22:
        case 36:
        case 62:
            if (y != 0) return true;
            if (!append_markers(code)) return false;
            if (x == 36) {
                start_bitmap(state_);
            } else if (x == 22) {
                expect_inline_bitmap(state_);
            }
            return true;
        case 23:
        case 24:
        case 25:
        case 32:
            if (y == 255) return bitmap_referenced_value(x);
            if (!append_markers(code)) return false;
            if (y == 0) expect_inline_bitmap(state_);
            return true;
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
            if (!append_markers(code)) return false;
            if (x == 35 && y == 0) {
                cancel_bitmap(state_);
            } else if (x == 37) {
                if (y == 0) {
                    rewind_bitmap(state_);
                } else {
                    cancel_bitmap(state_);
                }
            }
            return true;
        default:
            return true;  // not acted on: nothing read, nothing appended
    }
}

bool Walker::bitmap_referenced_value(std::uint32_t x) {
    const ElementRef* target = nullptr;
    switch (next_bitmap_target(state_, target)) {
        case TargetStatus::None:
            return true;
        case TargetStatus::OutsideHistory:
            return fail(BufrError::text("bitmap reference is outside descriptor history"));
        case TargetStatus::Found:
            break;
    }
    std::uint32_t width = target->def->width;
    std::int64_t reference = target->def->reference;
    if (x == 25) {
        // Differences: one bit wider, and centred on zero.
        const std::uint32_t w = width;
        width = w == std::numeric_limits<std::uint16_t>::max() ? w : w + 1;
        reference = static_cast<std::int64_t>(0 - (w >= 64 ? 0 : std::uint64_t{1} << w));
    }
    return read_element(*target, width, reference);
}

}  // namespace skyrec
