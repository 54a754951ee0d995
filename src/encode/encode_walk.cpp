// The walk that writes: elements, replications, sequences and operators in
// the decoder's order, each field from the next slot of the subset.
#include "encode/encode_walk.hpp"

#include <string>

#include "base/interrupt.hpp"
#include "base/limits.hpp"
#include "decode/bitmap.hpp"
#include "decode/decoded_value.hpp"
#include "decode/descriptor_steps.hpp"
#include "decode/scaling.hpp"
#include "encode/text_field.hpp"

namespace skyrec {
namespace {

constexpr std::uint32_t kClass31 = 31;

}  // namespace

EncodeWalker::EncodeWalker(const TableSet& tables, const SlotSource& slots, const EncodeOptions& options,
                           BitWriter& writer, std::uint64_t step_allowance)
    : cache_(tables, false), slots_(slots), options_(options), writer_(&writer), step_allowance_(step_allowance) {}

EncodeWalker::EncodeWalker(const TableSet& tables, const SlotSource& slots, const EncodeOptions& options,
                           std::vector<FieldPlan>& plan, std::uint64_t step_allowance)
    : cache_(tables, false), slots_(slots), options_(options), plan_(&plan), step_allowance_(step_allowance) {}

Status EncodeWalker::subset(std::span<const DescriptorCode> descriptors, std::size_t subset) {
    if (subset != 0) state_.start_subset();
    subset_ = subset;
    cursor_ = 0;
    if (!walk(descriptors, 0)) {
        BufrError error = std::move(*error_);
        error_.reset();
        error.set_subset(static_cast<std::uint32_t>(subset));
        return error;
    }
    if (cursor_ != slots_.size(subset)) {
        return BufrError::text("too many values for the descriptors in subset " + std::to_string(subset) + ": " +
                               std::to_string(slots_.size(subset)) + " given, " + std::to_string(cursor_) + " taken");
    }
    return Ok{};
}

bool EncodeWalker::next_slot(Slot& slot, DescriptorCode code) {
    if (cursor_ >= slots_.size(subset_)) {
        return fail(BufrError::text("too few values for the descriptors in subset " + std::to_string(subset_) + ": " +
                                    std::to_string(cursor_) + " given, " + descriptor_text(code) + " needs one more"));
    }
    slot = slots_.at(subset_, cursor_++);
    return true;
}

bool EncodeWalker::walk(std::span<const DescriptorCode> list, unsigned depth) {
    if (depth > kMaxNestingDepth) {
        return fail(BufrError::limit_exceeded("descriptor encode exceeded recursion depth"));
    }
    return walk_steps(*this, list, depth);
}

bool EncodeWalker::before_step() {
    if (++steps_ > step_allowance_) {
        return fail(BufrError::limit_exceeded("encoding exceeded " + std::to_string(step_allowance_) +
                                              " descriptor steps for its values"));
    }
    return (steps_ & kInterruptStepMask) != 0 || !interrupt_requested() || fail(interrupted_error());
}

bool EncodeWalker::sequence_step(DescriptorCode code, unsigned depth) {
    const SequenceDefinition* sequence = cache_.tables().sequence(code);
    if (sequence == nullptr) return fail(BufrError::sequence_not_found(code));
    return walk(sequence->members, depth + 1);
}

bool EncodeWalker::element_step(DescriptorCode code) {
    const ElementRef* element = cache_.find(code);
    if (state_.new_reference_width != 0) {
        if (element == nullptr) return fail(BufrError::element_not_found(code));
        return define_reference(*element);
    }
    if (state_.associated_width != 0 && code_x(code) != kClass31 && !write_associated_field()) return false;
    const bool feeds_bitmap = element_feeds_bitmap(state_, code);
    last_.reset();
    if (plain_under_local_width(state_, element)) {
        element = cache_.local_width_element(code, element);
        if (!write_numeric(*element, FieldShape{state_.local_width, 1.0, 0})) return false;
    } else {
        if (element == nullptr) return fail(BufrError::element_not_found(code));
        if (!write_element(*element, element->def->width, reference_of(state_, *element))) return false;
    }
    state_.local_width_active = false;
    if (!feeds_bitmap) {
        state_.history.push_back(element);
        return true;
    }
    if (last_ && last_->value) {
        add_bitmap_entry(state_, *last_->value);
    } else if (plan_ != nullptr) {
        add_bitmap_entry(state_, 0.0);
    }
    return true;
}

bool EncodeWalker::replication_step(std::span<const DescriptorCode> list, std::size_t& i, unsigned depth) {
    auto replication = replication_at(list, i);
    if (!replication) return fail(std::move(replication).error());
    const auto [body, factor, fixed, steps] = *replication;
    std::uint64_t count = fixed;
    if (fixed == 0) {
        if (plan_ == nullptr && state_.associated_width != 0 && code_x(factor) != kClass31 &&
            !write_associated_field()) {
            return false;
        }
        const ElementRef* element = cache_.find(factor);
        if (element == nullptr) return fail(BufrError::element_not_found(factor));
        last_.reset();
        if (element->kind == ElementKind::Character) return fail(BufrError::unsupported_replication(list[i]));
        const FieldShape shape = numeric_shape(state_, *element, element->def->width, reference_of(state_, *element));
        if (!write_numeric(*element, shape, true)) return false;
        count = last_ && last_->value ? saturating_count(*last_->value) : 0;
        state_.history.push_back(element);
    }
    for (std::uint64_t pass = 0; pass < count; ++pass) {
        if (!walk(body, depth + 1)) return false;
    }
    i += steps;
    return true;
}

bool EncodeWalker::operator_step(DescriptorCode code) {
    Slot ignored;
    switch (apply_operator(state_, code)) {
        case OperatorAction::None:
            return true;
        case OperatorAction::Marker:
            return next_slot(ignored, code);  // a marker holds no bits
        case OperatorAction::InsertedText:
            return write_text(code, &inserted_text_name(), code_y(code) % 256 * 8);
        case OperatorAction::BitmapValue:
            break;
    }
    auto target = bitmap_value_target(state_);
    if (!target) return fail(std::move(target).error());
    if (*target == nullptr) return true;
    const FieldShape shape = bitmap_value_shape(**target, code_x(code));
    return write_element(**target, shape.width, shape.reference);
}

bool EncodeWalker::write_element(const ElementRef& element, std::uint32_t width, std::int64_t reference) {
    if (element.kind == ElementKind::Character) {
        return write_text(element.def->code, &element.def->abbreviation, character_width(state_, width));
    }
    return write_numeric(element, numeric_shape(state_, element, width, reference));
}

bool EncodeWalker::write_numeric(const ElementRef& element, const FieldShape& shape, bool is_count) {
    Slot slot;
    if (!next_slot(slot, element.def->code)) return false;
    // A raw integer that fits, as a message written again holds them: straight out.
    if (plan_ == nullptr && slot.kind == Slot::Kind::Raw && slot.raw <= all_ones(shape.width)) {
        writer_->write(shape.width, slot.raw);
        last_ = FieldValue{slot.raw, false, scaled_value(slot.raw, shape.reference, shape.divisor)};
        return true;
    }
    FieldPlan field;
    field.missing_recognised = element.missing_recognised;
    field.is_count = is_count;
    field.code = element.def->code;
    field.key = &element.def->abbreviation;
    field.shape = shape;
    field.slot = cursor_ - 1;
    auto value = field_value(slot, field, subset_, options_);
    if (!value) return fail(std::move(value).error());
    last_ = *value;
    if (plan_ != nullptr) {
        plan_->push_back(field);
    } else {
        writer_->write(shape.width, value->raw);
    }
    return true;
}

bool EncodeWalker::write_associated_field() {
    return write_numeric(associated_field_ref(), FieldShape{state_.associated_width, 1.0, 0});
}

bool EncodeWalker::write_text(DescriptorCode code, const std::string* key, std::uint32_t width) {
    FieldPlan field;
    field.kind = FieldPlan::Kind::Text;
    field.code = code;
    field.key = key;
    field.shape.width = width;
    field.slot = cursor_;
    Slot slot;
    if (!next_slot(slot, code)) return false;
    if (Status s = text_bytes(slot, field, subset_, text_); !s) return fail(std::move(s).error());
    if (plan_ != nullptr) {
        plan_->push_back(field);
    } else {
        write_text_field(*writer_, text_.data(), width);
    }
    return true;
}

bool EncodeWalker::define_reference(const ElementRef& element) {
    FieldPlan field;
    field.kind = FieldPlan::Kind::Fixed;
    field.code = element.def->code;
    field.key = &element.def->abbreviation;
    field.shape.width = state_.new_reference_width;
    field.slot = cursor_;
    Slot slot;
    if (!next_slot(slot, field.code)) return false;
    auto raw = reference_bits(slot, field, subset_);
    if (!raw) return fail(std::move(raw).error());
    define_new_reference(state_, field.code, reference_from_bits(*raw, field.shape.width));
    if (plan_ != nullptr) {
        plan_->push_back(field);
    } else {
        writer_->write(field.shape.width, *raw);
    }
    return true;
}

}  // namespace skyrec
