// Reading one element's value (uncompressed) or one column of values, a
// value per subset (compressed), with the widths, scales and references that
// the operators in force give.
#include <algorithm>

#include "bitstream/bit_reader.hpp"
#include "decode/field_rules.hpp"
#include "decode/ia5.hpp"
#include "decode/scaling.hpp"
#include "decode/walker.hpp"

namespace skyrec {
namespace {

constexpr std::uint32_t kIncrementWidthBits = 6;

}  // namespace

bool Walker::define_reference(const ElementRef& element) {
    const std::uint32_t width = state_.new_reference_width;
    std::uint64_t raw = 0;
    if (!reader_.read(width, raw)) return fail_read(width);
    // Compressed data holds it once too, without an increment width: the
    // reference is one for all subsets.
    const std::int64_t reference = reference_from_bits(raw, width);
    if (capture_ != nullptr) {
        capture_->references.push_back({capture_->subset, compressed_ ? columns_->size() : value_count(), reference});
    }
    define_new_reference(state_, element.def->code, reference);
    if (copy_ != nullptr && !compressed_) copy_->reference(raw, width);
    return true;
}

bool Walker::read_associated_field() { return read_numeric(associated_field_ref(), state_.associated_width, 1.0, 0); }

bool Walker::read_column(const ElementRef& element, std::uint32_t width, double divisor, std::int64_t reference) {
    if (!make_room()) return false;
    std::uint64_t r0 = 0;
    if (!reader_.read(width, r0)) return fail_read(width);
    const bool missing_recognised = element.missing_recognised;
    const bool base_missing = missing_recognised && width < 64 && r0 == all_ones(width);

    std::uint64_t nbinc = 0;
    if (!reader_.read(kIncrementWidthBits, nbinc)) return fail_read(kIncrementWidthBits);
    const auto increment_width = static_cast<std::uint32_t>(nbinc);
    if (increment_width != 0 && reader_.remaining() / increment_width < subsets_) {
        reader_.skip(reader_.remaining() / increment_width * increment_width);
        return fail_read(increment_width);
    }
    Column& column = columns_->emplace_back();
    column.kind = Column::Kind::Numeric;
    column.missing_recognised = missing_recognised;
    column.base_missing = base_missing;
    column.increment_width = static_cast<std::uint8_t>(increment_width);
    column.code = element.def->code;
    column.name = element.name;
    column.codes = element.codes;
    if (element.flags != nullptr) {
        column.flags = element.flags;
        column.flag_width = element.def->width;
    }
    column.base = r0;
    column.position = reader_.position();
    column.reference = reference;
    column.divisor = divisor;
    reader_.skip(std::uint64_t{increment_width} * subsets_);
    return true;
}

bool Walker::read_character(DescriptorCode code, const std::string& name, std::uint32_t width) {
    const std::size_t nbytes = (width + 7) / 8;
    if (!make_text_room(nbytes)) return false;
    if (scratch_.size() < nbytes) scratch_.resize(nbytes);
    const std::uint64_t start = reader_.position();
    if (const std::uint32_t failed = reader_.read_bytes_into(width, scratch_.data()); failed != 0) {
        return fail_read(failed);
    }
    const std::uint64_t width_bytes = width / 8;
    if (capture_ != nullptr && !compressed_) capture_->add_text(scratch_.data(), nbytes);

    if (!compressed_) {
        // Kept for compatibility: a text's number is its index among the message's texts times
        // 1000 plus its width in bytes, which callers see as its raw_value.
        const std::uint64_t index = ++state_.string_counter;
        values_->push_back(DecodedValue{static_cast<double>(index * 1000 + width_bytes), 0, &name, nullptr,
                                        raw_only() ? OwnedText() : decode_ia5(scratch_.data(), nbytes), code, true,
                                        false});
        return copy_ == nullptr || copy_->text(code, scratch_.data(), width) || fail_copy();
    }

    std::uint64_t nbinc = 0;
    if (!reader_.read(kIncrementWidthBits, nbinc)) return fail_read(kIncrementWidthBits);
    const std::uint64_t k = state_.compressed_string_counter++;
    Column& column = columns_->emplace_back();
    column.kind = Column::Kind::Character;
    column.increment_width = static_cast<std::uint8_t>(nbinc);
    column.text_width = width;
    column.code = code;
    column.name = &name;
    column.first_index = (k * subsets_ + 1) * 1000 + width_bytes;
    if (nbinc == 0) {
        column.position = start;
        for (std::size_t j = 0; capture_ != nullptr && j < subsets_; ++j)
            capture_->add_text(scratch_.data(), nbytes);
        return true;
    }
    column.position = reader_.position();
    // Each subset's text is whole bytes: the first byte that does not fit
    // is the one that fails.
    const std::uint64_t bits = 8 * nbinc * subsets_;
    if (bits > reader_.remaining()) {
        reader_.skip(reader_.remaining() / 8 * 8);
        return fail_read(8);
    }
    if (capture_ != nullptr) capture_text_column(column);
    reader_.skip(bits);
    return true;
}

void Walker::capture_text_column(const Column& column) {
    const std::uint32_t n = column.increment_width;
    if (scratch_.size() < n) scratch_.resize(n);
    for (std::size_t j = 0; j < subsets_; ++j) {
        bytes_at(reader_.data(), column.position + j * 8 * std::uint64_t{n}, 8 * n, scratch_.data());
        capture_->add_text(scratch_.data(), n);
    }
}

}  // namespace skyrec
