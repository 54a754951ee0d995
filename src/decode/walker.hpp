// The descriptor walk shared by uncompressed and compressed data. It expands
// sequences and replications on the fly (bodies are views, never copies),
// applies operators and bitmaps, and appends values. Uncompressed data
// appends one value per element, handing full batches to a sink when it has
// one; compressed data appends one column per element occurrence.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "base/interrupt.hpp"
#include "base/limits.hpp"
#include "bitstream/bit_reader.hpp"
#include "decode/bitmap.hpp"
#include "decode/column.hpp"
#include "decode/decode_section4.hpp"
#include "decode/decoded_value.hpp"
#include "decode/decoder_state.hpp"
#include "decode/element_ref.hpp"
#include "decode/field_copy.hpp"
#include "decode/field_rules.hpp"
#include "decode/scaling.hpp"

namespace skyrec {

// What a decode keeps for a caller that writes the message again: the bytes
// of its texts as they stand (the values hold them as a reader takes them),
// and the references that 203YYY defined, which are no values.
struct RawCapture {
    struct Reference {
        std::size_t subset;  // 0 for compressed data
        std::size_t before;  // values (compressed: columns) made before it
        std::int64_t reference;
    };
    // Text after text in the order read; a compressed column gives one
    // text per subset, with increments or not.
    std::vector<std::uint8_t> text_bytes;
    std::vector<std::size_t> text_ends;
    std::vector<Reference> references;
    std::size_t subset = 0;  // the subset being read

    void add_text(const std::uint8_t* bytes, std::size_t n) {
        text_bytes.insert(text_bytes.end(), bytes, bytes + n);
        text_ends.push_back(text_bytes.size());
    }
};

// Values held before a sink takes them: enough to make each hand-over cheap,
// few enough to stay in the processor's caches.
inline constexpr std::size_t kBatchValues = 2048;

class Walker {
public:
    // Uncompressed data: `values` receives the values; with a sink, it is a
    // batch that the sink takes whenever it is full.
    // `input_bytes`, the length of the message, sets what the walk may
    // spend (base/limits.hpp).
    // `shown`: values read as the package's outputs show them (ElementCache).
    // `cache`, when given and made for the same tables and `shown`, holds
    // the element entries instead of one of the walker's own, so that they
    // are resolved once for many decodes.
    Walker(const TableSet& tables, BitReader& reader, std::vector<DecodedValue>& values, Section4Sink* sink,
           std::uint64_t input_bytes, bool shown, ElementCache* cache = nullptr);
    // Compressed data: `columns` receives one column per element occurrence.
    Walker(const TableSet& tables, BitReader& reader, std::uint16_t subsets, std::vector<Column>& columns,
           std::uint64_t input_bytes, bool shown, ElementCache* cache = nullptr);

    // Errors are kept in the walker: false means take_error() holds one.
    bool walk(std::span<const DescriptorCode> list, unsigned depth);
    BufrError take_error() { return std::move(*error_); }

    // Uncompressed data: back to the first state for the next subset.
    void start_subset() {
        state_.start_subset();
        note_state();
    }
    void capture_into(RawCapture* capture) noexcept {
        capture_ = capture;
        note_raw_only();
    }
    RawCapture* capture() const noexcept { return capture_; }
    // Uncompressed data: every field read is handed to `copy` too.
    void copy_into(FieldCopy* copy) noexcept {
        copy_ = copy;
        note_raw_only();
    }
    FieldCopy* copy() const noexcept { return copy_; }

    // Hands the values still held to the sink, if there is one.
    bool flush();
    // The values made so far: those taken by the sink too, and for
    // compressed data one per subset of every column.
    std::size_t value_count() const noexcept {
        return compressed_ ? columns_->size() * subsets_ : taken_ + values_->size();
    }
    // What the walk has spent so far.
    Allowance spent() const noexcept { return {value_count(), text_bytes_, steps_}; }

private:
    template <class W>
    friend bool walk_steps(W& w, std::span<const DescriptorCode> list, unsigned depth);

    // walk.cpp: the structure.
    // Every step counts against the allowance, data or not, so no input walks
    // without end, and a long walk asks for interrupts; both checks wait for
    // one threshold, the nearer of the two.
    bool before_step() {
        if (++steps_ >= next_check_) [[unlikely]] {
            if (!step_checkpoint()) return false;
        }
        return sink_ == nullptr || values_->size() < kBatchValues || flush();
    }
    bool step_checkpoint();
    // Most elements are numbers read by their entry alone (entry_fields):
    // those take no more than the lookup, the read and the history.
    [[gnu::always_inline]] bool element_step(DescriptorCode code) {
        const ElementRef* element = cache_->find(code);
        if (entry_fields_ && element != nullptr && element->kind != ElementKind::Character &&
            code != kDataPresentIndicator) [[likely]] {
            const std::uint32_t width = element->def->width;
            const std::int64_t reference = element->def->reference;
            if (compressed_ ? !read_column(*element, width, element->divisor, reference)
                            : !read_value(*element, width, element->divisor, reference)) {
                return false;
            }
            state_.history.push_back(element);
            return true;
        }
        const bool done = operated_element_step(code, element);
        note_state();
        return done;
    }
    bool operated_element_step(DescriptorCode code, const ElementRef* element);
    // Whether the fields are their entries' again, after anything that may
    // change the state.
    void note_state() noexcept { entry_fields_ = entry_fields(state_); }
    bool replication_step(std::span<const DescriptorCode> list, std::size_t& i, unsigned depth);
    bool repeat(std::span<const DescriptorCode> body, std::uint64_t count, unsigned depth);
    bool sequence_step(DescriptorCode code, unsigned depth);

    // operators.cpp: Table C.
    bool operator_step(DescriptorCode code);
    bool bitmap_referenced_value(std::uint32_t x);
    bool append_markers(DescriptorCode code);

    // value_reads.cpp: one element's value(s) at the current state.
    bool read_element(const ElementRef& element, std::uint32_t width, std::int64_t reference) {
        if (element.kind == ElementKind::Character) {
            return read_character(element.def->code, element.def->name, character_width(state_, width));
        }
        const FieldShape shape = numeric_shape(state_, element, width, reference);
        return read_numeric(element, shape.width, shape.divisor, shape.reference);
    }
    bool read_element(const ElementRef& element) {
        return read_element(element, element.def->width, reference_of(element));
    }
    std::int64_t reference_of(const ElementRef& element) const noexcept {
        return skyrec::reference_of(state_, element);
    }
    // Reads the reference that 203YYY has the element define.
    bool define_reference(const ElementRef& element);
    bool read_associated_field();
    bool read_character(DescriptorCode code, const std::string& name, std::uint32_t width);
    void capture_text_column(const Column& column);
    bool read_numeric(const ElementRef& element, std::uint32_t width, double divisor, std::int64_t reference) {
        return compressed_ ? read_column(element, width, divisor, reference)
                           : read_value(element, width, divisor, reference);
    }
    // One value of uncompressed data; one column of compressed data.
    [[gnu::always_inline]] bool read_value(const ElementRef& element, std::uint32_t width, double divisor,
                                           std::int64_t reference) {
        if (!make_room()) [[unlikely]]
            return false;
        std::uint64_t raw = 0;
        if (!reader_.read_field(width, raw)) [[unlikely]]
            return fail_read(width);
        const bool missing = element.missing_recognised && width < 64 && raw == all_ones(width);
        DecodedValue& v = values_->emplace_back();
        if (!missing) v.value = scaled_value(raw, reference, divisor);
        v.raw = raw;
        v.name = element.name;
        if (!raw_only()) v.meaning = element.meaning(raw);
        v.descriptor = element.def->code;
        v.has_value = !missing;
        v.has_raw = true;
        return copy_ == nullptr || copy_->numeric(element, FieldShape{width, divisor, reference}, raw) || fail_copy();
    }
    bool read_column(const ElementRef& element, std::uint32_t width, double divisor, std::int64_t reference);

    // The value of subset `j` (0 for uncompressed data) appended by the last read.
    std::optional<double> last_value(std::size_t j) const noexcept {
        if (!compressed_) return values_->back().scaled();
        return column_value(columns_->back(), reader_.data(), j);
    }

    bool fail(BufrError error) {
        error_.emplace(std::move(error));
        return false;
    }
    bool fail_read(std::uint32_t width) { return fail(reader_.read_error(width)); }
    bool fail_copy() { return fail(copy_->take_error()); }
    // Whether values are kept as raw integers and bytes only: a writer
    // needs no meanings and no decoded texts.
    bool raw_only() const noexcept { return raw_only_; }
    // Kept as a flag because every value read asks.
    void note_raw_only() noexcept { raw_only_ = capture_ != nullptr || copy_ != nullptr; }
    // A step of `code` failed: the error notes it on its way up, so that the
    // descriptor path costs nothing until something fails.
    bool failed_in(DescriptorCode code) {
        if (error_) error_->add_outer_descriptor(code);
        return false;
    }
    // Output is bounded (base/limits.hpp): false, with the error held,
    // when one more value or column would pass the allowance. Every value
    // made passes here, so a countdown keeps what is left.
    bool make_room() {
        if (values_left_ < column_size_) [[unlikely]]
            return over(allowance_.values, "values");
        values_left_ -= column_size_;
        return true;
    }
    // The same for a text, and its `text_bytes` bytes in each subset.
    bool make_text_room(std::uint64_t text_bytes) {
        if (!make_room()) return false;
        text_bytes_ += text_bytes * column_size_;
        if (text_bytes_ > allowance_.text_bytes) [[unlikely]]
            return over(allowance_.text_bytes, "bytes of text");
        return true;
    }
    bool over(std::uint64_t bound, std::string_view units) {
        return fail(limit_error("section 4 decoding", bound, units, input_bytes_));
    }

    // The cache given to the constructor, or else own_cache_.
    ElementCache& use_cache(ElementCache* given, const TableSet& tables, bool shown);

    std::optional<ElementCache> own_cache_;
    ElementCache* cache_;
    BitReader& reader_;
    std::vector<DecodedValue>* values_ = nullptr;
    std::vector<Column>* columns_ = nullptr;
    Section4Sink* sink_ = nullptr;
    std::size_t taken_ = 0;  // values the sink has taken
    DecoderState state_;
    const bool compressed_;
    const std::uint16_t subsets_;
    const std::size_t column_size_;  // 1, or the number of subsets
    const std::uint64_t input_bytes_;
    const Allowance allowance_;
    std::uint64_t values_left_ = allowance_.values;  // what make_room may still make
    std::uint64_t steps_ = 0;                        // descriptor steps
    std::uint64_t next_check_ = 0;                   // the step at which step_checkpoint runs next
    std::uint64_t text_bytes_ = 0;
    std::vector<std::uint8_t> scratch_;  // bytes of character data
    std::optional<BufrError> error_;
    RawCapture* capture_ = nullptr;
    FieldCopy* copy_ = nullptr;
    bool raw_only_ = false;
    bool entry_fields_ = true;  // entry_fields(state_), kept up to date by note_state
};

}  // namespace skyrec
