// Table C operators: the settings they change, the markers they leave, and
// the values that bitmaps refer back to.
#include "decode/field_rules.hpp"
#include "decode/walker.hpp"

namespace skyrec {
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
    return copy_ == nullptr || copy_->marker(code) || fail_copy();
}

bool Walker::operator_step(DescriptorCode code) {
    const OperatorAction action = apply_operator(state_, code);
    note_state();
    switch (action) {
        case OperatorAction::None:
            return true;
        case OperatorAction::Marker:
            return append_markers(code);
        case OperatorAction::InsertedText:
            // Characters inserted by the operator itself: y bytes of text.
            return read_character(code, inserted_text_name(), code_y(code) % 256 * 8);
        case OperatorAction::BitmapValue:
            return bitmap_referenced_value(code_x(code));
    }
    return true;
}

bool Walker::bitmap_referenced_value(std::uint32_t x) {
    auto target = bitmap_value_target(state_);
    if (!target) return fail(std::move(target).error());
    if (*target == nullptr) return true;
    const FieldShape shape = bitmap_value_shape(**target, x);
    return read_element(**target, shape.width, shape.reference);
}

}  // namespace skyrec
