// The descriptor walk shared by uncompressed and compressed data. It expands
// sequences and replications on the fly (bodies are views, never copies),
// applies operators and bitmaps, and appends values. Uncompressed data
// appends one value per element; compressed data one column of a value per
// subset, each column `column_size` records long.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "bitstream/bit_reader.hpp"
#include "decode/decoded_value.hpp"
#include "decode/decoder_state.hpp"
#include "decode/element_ref.hpp"
#include "message/error.hpp"
#include "message/limits.hpp"

namespace skyrec {

class Walker {
public:
    // `out` receives the values (uncompressed) or the columns (compressed).
    Walker(const TableSet& tables, BitReader& reader, bool compressed, std::uint16_t subsets,
           std::vector<DecodedValue>& out);

    // Errors are kept in the walker: false means take_error() holds one.
    bool walk(std::span<const DescriptorCode> list, unsigned depth);
    BufrError take_error() { return std::move(*error_); }

    DecoderState& state() noexcept { return state_; }

private:
    friend class ValueReads;

    // walk.cpp: the structure.
    bool element_step(DescriptorCode code);
    bool replication_step(std::span<const DescriptorCode> list, std::size_t& i, unsigned depth);
    bool repeat(std::span<const DescriptorCode> body, std::uint64_t count, unsigned depth);
    bool sequence_step(DescriptorCode code, unsigned depth);

    // operators.cpp: Table C.
    bool operator_step(DescriptorCode code);
    bool bitmap_referenced_value(std::uint32_t x);
    bool append_markers(DescriptorCode code);

    // value_reads.cpp: one element's value(s) at the current state.
    bool read_element(const ElementRef& element, std::uint32_t width, std::int64_t reference);
    bool read_element(const ElementRef& element) {
        return read_element(element, element.def->width, element.def->reference);
    }
    bool read_associated_field();
    bool read_character(DescriptorCode code, const std::string& name, std::uint32_t width);
    bool read_numeric(DescriptorCode code, const std::string& name, const CodeTable* codes, std::uint32_t width,
                      std::int64_t scale, std::int64_t reference, bool missing_recognised);

    // The records appended by the last read.
    std::span<const DecodedValue> last_column() const noexcept {
        return {out_.data() + (out_.size() - column_size_), column_size_};
    }

    bool fail(BufrError error) {
        error_.emplace(std::move(error));
        return false;
    }
    bool fail_read(std::uint32_t width) { return fail(reader_.read_error(width)); }
    // Output is bounded (message/limits.hpp): false, with the error held,
    // when one more value or column would pass kMaxDecodedValues.
    bool make_room();

    ElementCache cache_;
    BitReader& reader_;
    std::vector<DecodedValue>& out_;
    DecoderState state_;
    const bool compressed_;
    const std::uint16_t subsets_;
    const std::size_t column_size_;      // 1, or the number of subsets
    std::uint64_t steps_ = 0;            // descriptor steps, bounded by kMaxDescriptorSteps
    std::vector<std::uint8_t> scratch_;  // bytes of character data
    std::optional<BufrError> error_;
};

inline constexpr unsigned kMaxWalkDepth = 64;

}  // namespace skyrec
