// The encoder's walk over the unexpanded descriptors: the decoder's walk
// (decode/walk.cpp) with each read turned into a write. Uncompressed data is
// written subset by subset as it is walked; compressed data is walked once,
// on subset 0, into a plan of columns that compressed_columns.cpp writes.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/error.hpp"
#include "base/result.hpp"
#include "decode/decoder_state.hpp"
#include "decode/element_ref.hpp"
#include "decode/field_rules.hpp"
#include "decode/scaling.hpp"
#include "encode/bit_writer.hpp"
#include "encode/slots.hpp"

namespace skyrec {

struct EncodeOptions {
    bool out_of_range_missing = false;  // write a value the field cannot hold as missing
};

// One field of the data, as the walk meets it.
struct FieldPlan {
    enum class Kind : std::uint8_t {
        Numeric,
        Text,
        Fixed,  // a 203YYY reference: its bits once, no increments
    };
    Kind kind = Kind::Numeric;
    bool missing_recognised = true;
    bool is_count = false;  // a delayed replication factor: equal in every subset
    DescriptorCode code = 0;
    const std::string* key = nullptr;
    FieldShape shape;
    std::size_t slot = 0;  // where its values stand in each subset
};

// The largest raw integer the field holds as a value: all ones is missing
// but where missing values are not recognised.
inline std::uint64_t largest_raw(const FieldPlan& field) noexcept {
    const std::uint64_t ones = all_ones(field.shape.width);
    return field.missing_recognised && ones != 0 ? ones - 1 : ones;
}

// raw = round(number x 10^scale) - reference, halves away from zero; false
// when that is not in 0..largest.
inline bool raw_of_number(double number, const FieldShape& shape, std::uint64_t largest, std::uint64_t& raw) noexcept {
    const double scaled = number * shape.divisor;
    constexpr double kLimit = 4.6e18;  // so that the rounded number less the reference cannot overflow
    if (!(std::fabs(scaled) < kLimit)) return false;
    const auto rounded = static_cast<std::int64_t>(scaled + std::copysign(0.5, scaled));
    std::int64_t r;
    if (__builtin_sub_overflow(rounded, shape.reference, &r) || r < 0 || static_cast<std::uint64_t>(r) > largest) {
        return false;
    }
    raw = static_cast<std::uint64_t>(r);
    return true;
}

// A slot's value made into the field's integer, and the value a reader takes from it.
struct FieldValue {
    std::uint64_t raw = 0;
    bool missing = false;
    std::optional<double> value;
};

// The raw integer of `slot` in `field` of `subset`, or the refusal.
Result<FieldValue> field_value(const Slot& slot, const FieldPlan& field, std::size_t subset,
                               const EncodeOptions& options);
// The bytes of a text field (width / 8 of them, blank padded), or the refusal.
Status text_bytes(const Slot& slot, const FieldPlan& field, std::size_t subset, std::vector<std::uint8_t>& out);

class EncodeWalker {
public:
    // Uncompressed: every field is written to `writer` as it is met.
    EncodeWalker(const TableSet& tables, const SlotSource& slots, const EncodeOptions& options, BitWriter& writer,
                 std::uint64_t step_allowance);
    // Compressed: fields are recorded in `plan`, values taken from subset 0.
    EncodeWalker(const TableSet& tables, const SlotSource& slots, const EncodeOptions& options,
                 std::vector<FieldPlan>& plan, std::uint64_t step_allowance);

    // Walks the descriptors for `subset` and checks that its slots are all used.
    Status subset(std::span<const DescriptorCode> descriptors, std::size_t subset);

private:
    template <class W>
    friend bool walk_steps(W& w, std::span<const DescriptorCode> list, unsigned depth);

    bool walk(std::span<const DescriptorCode> list, unsigned depth);
    bool before_step();
    bool element_step(DescriptorCode code);
    bool sequence_step(DescriptorCode code, unsigned depth);
    bool replication_step(std::span<const DescriptorCode> list, std::size_t& i, unsigned depth);
    bool operator_step(DescriptorCode code);
    bool write_element(const ElementRef& element, std::uint32_t width, std::int64_t reference);
    bool write_numeric(const ElementRef& element, const FieldShape& shape, bool is_count = false);
    bool write_text(DescriptorCode code, const std::string* key, std::uint32_t width);
    bool define_reference(const ElementRef& element);
    bool write_associated_field();

    // The next slot of the subset, or false with "too few values".
    bool next_slot(Slot& slot, DescriptorCode code);
    bool fail(BufrError error) {
        error_.emplace(std::move(error));
        return false;
    }
    bool failed_in(DescriptorCode code) {
        if (error_) error_->add_outer_descriptor(code);
        return false;
    }

    ElementCache cache_;
    const SlotSource& slots_;
    const EncodeOptions options_;
    BitWriter* writer_ = nullptr;
    std::vector<FieldPlan>* plan_ = nullptr;
    DecoderState state_;
    std::size_t subset_ = 0;
    std::size_t cursor_ = 0;
    std::uint64_t steps_ = 0;
    const std::uint64_t step_allowance_;
    std::optional<FieldValue> last_;  // the last numeric value written
    std::vector<std::uint8_t> text_;
    std::optional<BufrError> error_;
};

}  // namespace skyrec
