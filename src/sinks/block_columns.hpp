// The values of one message or many as one set of columns, decoded straight
// into them; the package's only way from values to columns. Each message's
// section 4 goes through the decoder's sink into rows after those already
// added, tagged with where the message came from, its category codes
// renumbered into lists shared by the whole block and merged by content, so
// that equal texts get one code whichever message or table set they came
// from.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/limits.hpp"
#include "base/result.hpp"
#include "decode/decode_section4.hpp"
#include "message/message.hpp"
#include "message/message_tag.hpp"
#include "sinks/categories.hpp"
#include "sinks/element_categories.hpp"
#include "sinks/growing_array.hpp"
#include "sinks/subset_cursor.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Distinct texts numbered in the order first seen, owning copies of them: the
// values they come from are gone once decoded.
class OwnedCategories {
public:
    std::int32_t code(std::string_view text);
    std::size_t size() const noexcept { return texts_.size(); }
    // Forgets the texts numbered from `size` on.
    void truncate(std::size_t size) noexcept;
    // The texts, leaving the categories empty.
    std::vector<std::string> take();

private:
    std::deque<std::string> texts_;  // never moves a string: the keys view them
    std::unordered_map<std::string_view, std::int32_t> codes_;
};

// The arrays of BlockColumns, named to choose which a block makes.
enum class BlockArray : unsigned {
    file,
    message,
    offset,
    subset,
    descriptor,
    value,
    raw,
    raw_present,
    name,
    unit,
    text,
    meaning,
    key,
    rank
};

// A set of BlockArrays.
class ArraySet {
public:
    constexpr ArraySet() noexcept = default;
    static constexpr ArraySet all() noexcept { return ArraySet((1u << (unsigned(BlockArray::rank) + 1)) - 1); }
    // All but the tags file, message and offset: the rows of one message alone need none.
    static constexpr ArraySet untagged() noexcept {
        return all().without(BlockArray::file).without(BlockArray::message).without(BlockArray::offset);
    }
    constexpr bool has(BlockArray a) const noexcept { return (bits_ & bit(a)) != 0; }
    constexpr ArraySet with(BlockArray a) const noexcept { return ArraySet(bits_ | bit(a)); }
    constexpr ArraySet without(BlockArray a) const noexcept { return ArraySet(bits_ & ~bit(a)); }

private:
    constexpr explicit ArraySet(unsigned bits) noexcept : bits_(bits) {}
    static constexpr unsigned bit(BlockArray a) noexcept { return 1u << unsigned(a); }
    unsigned bits_ = 0;
};

// The block's columns. The code columns hold 32-bit codes unless narrowed:
// then each item is 1, 2 or 4 bytes, the fewest that hold the codes of its
// category list as pandas keeps them (fewer than 127 categories in one byte,
// fewer than 32767 in two).
struct BlockColumns {
    std::size_t count = 0;
    ArraySet arrays = ArraySet::all();  // those made: the others stay empty
    GrowingArray<std::int32_t> file;
    GrowingArray<std::int64_t> message;
    GrowingArray<std::int64_t> offset;
    GrowingArray<std::uint32_t> subset;  // 0-based
    GrowingArray<DescriptorCode> descriptor;
    GrowingArray<double> value;  // NaN when missing
    GrowingArray<std::uint64_t> raw;
    GrowingArray<std::uint8_t> raw_present;  // 1 when `raw` holds a value (else it holds 0)
    GrowingArray<std::int32_t> name;         // into names
    GrowingArray<std::int32_t> unit;         // into units
    GrowingArray<std::int32_t> text;         // into texts, or kNoCategory
    GrowingArray<std::int32_t> meaning;      // into meanings, or kNoCategory
    GrowingArray<std::int32_t> key;          // into keys, or kNoCategory
    GrowingArray<std::uint32_t> rank;        // of the key in its subset, from 1; 0 when unranked
    // Names, units, meanings and keys view the strings of the tables that the
    // block was decoded with, which must outlive it; texts are the block's own.
    std::vector<std::string_view> names;
    std::vector<std::string_view> units;  // the empty string for values that no Table B entry names
    std::vector<std::string> texts;
    std::vector<std::string_view> meanings;
    std::vector<std::string_view> keys;
    std::int32_t files = 0;  // one more than the largest file code
    bool narrowed = false;

    std::size_t size() const noexcept { return count; }
    bool has(BlockArray a) const noexcept { return arrays.has(a); }
    // Calls f(array) for each of the columns above that `arrays` holds.
    template <class F>
    void for_each_array(F&& f) {
        const auto visit = [&](BlockArray a, auto& array) {
            if (has(a)) f(array);
        };
        visit(BlockArray::file, file), visit(BlockArray::message, message), visit(BlockArray::offset, offset);
        visit(BlockArray::subset, subset), visit(BlockArray::descriptor, descriptor), visit(BlockArray::value, value);
        visit(BlockArray::raw, raw), visit(BlockArray::raw_present, raw_present), visit(BlockArray::name, name);
        visit(BlockArray::unit, unit), visit(BlockArray::text, text), visit(BlockArray::meaning, meaning);
        visit(BlockArray::key, key), visit(BlockArray::rank, rank);
    }
    // Bytes per item of the code columns file, name, unit, text, meaning and key:
    // 4 unless narrowed.
    std::size_t code_width(std::size_t categories) const noexcept;
    // Narrows the code columns in place (BlockBuilder::take narrows as it lays
    // them out, which spares this pass).
    void narrow() noexcept;
};

// A compressed message's rows, kept a column at a time until the block is
// taken: what is the same in every subset is held once, and laid out row by
// row only when the width of each code column is known.
struct CompressedRun {
    std::size_t first = 0;  // its first row
    std::size_t subsets = 0;
    MessageTag tag;
    // One item per column; name, unit and key hold the message's own codes
    // until it is finished, then the block's.
    std::vector<DescriptorCode> descriptor;
    std::vector<std::int32_t> name;
    std::vector<std::int32_t> unit;
    std::vector<std::int32_t> key;
    std::vector<std::uint32_t> rank;
    std::vector<std::uint8_t> raw_present;
    // The columns with meanings or texts, and their codes, subset after subset.
    std::vector<std::size_t> described;
    std::vector<std::int32_t> meaning;
    std::vector<std::int32_t> text;

    std::size_t width() const noexcept { return descriptor.size(); }
};

class BlockBuilder final : public Section4Sink {
public:
    // Makes only the arrays `wanted`, and of the category lists only those
    // their code columns need: the others may be left empty.
    explicit BlockBuilder(ArraySet wanted = ArraySet::all()) noexcept;
    BlockBuilder(const BlockBuilder&) = delete;
    BlockBuilder& operator=(const BlockBuilder&) = delete;
    ~BlockBuilder() override;

    // Decodes `section4` (the data of `message`, whose whole length is
    // `message_bytes`) with `tables` into rows after those already added.
    // `tables` must outlive the builder and the columns it gives. On failure
    // the block is as it was.
    Status append(const BufrMessage& message, const TableSet& tables, ByteView section4, std::size_t message_bytes,
                  const MessageTag& tag);
    // The rows of a compressed message whose walk is done (`section`, as
    // take_columns takes it), added as append adds them.
    Status append_columns(const CompressedSection& section, const TableSet& tables, std::size_t message_bytes,
                          const MessageTag& tag);

    // The most bytes the columns may take (kDefaultBlockMemory unless set).
    void set_memory_limit(std::uint64_t bytes) noexcept { memory_limit_ = bytes; }
    // The threads that may lay out a large block (two at most; 2 unless set).
    void set_threads(unsigned threads) noexcept { threads_ = threads; }

    // Rows so far.
    std::size_t size() const noexcept { return columns_.count; }
    // Where each subset of the last message appended starts, counted in its own rows.
    const std::vector<std::size_t>& subset_starts() const noexcept { return subsets_.starts(); }
    // The columns so far, with their category lists (see BlockColumns), the
    // code columns narrowed if asked; the builder is left empty.
    BlockColumns take(bool narrowed = false);

    Status take_values(std::vector<DecodedValue>& batch) override;
    Status take_columns(const CompressedSection& section) override;

private:
    void start_message(const TableSet& tables, std::size_t message_bytes, const MessageTag& tag);
    // The message kept when `decoded` is Ok, else its rows dropped; `decoded` returned.
    Status end_message(Status decoded);
    // Room for `count` more rows of the current message, within the bounds.
    Status admit(std::size_t count, bool compressed);
    // The bytes each row takes, `compressed` counting the numbers unpacked first.
    std::uint64_t row_bytes(bool compressed) noexcept;
    template <class Value>
    void put(std::size_t row, const Value& value, std::uint32_t subset);
    void finish_message();
    void drop_message() noexcept;
    // Writes the rows of the compressed runs, narrowing the others' codes if asked.
    void lay_out(bool narrowed);

    ArraySet wanted_;
    BlockColumns columns_;  // its arrays: those wanted, and name when unit or key is (their codes come from it)
    // The block's lists; all but the texts view the tables' own strings.
    TextCategories names_block_;
    TextCategories units_block_;
    OwnedCategories texts_;
    TextCategories meanings_;
    TextCategories keys_;
    std::uint64_t block_bytes_ = 0;  // of the messages met
    std::uint64_t memory_limit_ = kDefaultBlockMemory;
    unsigned threads_ = 2;

    // The message being decoded, its categories its own until it is done.
    const TableSet* tables_ = nullptr;
    MessageTag tag_;
    std::size_t first_row_ = 0;
    SubsetCursor subsets_;
    ElementCategories names_;
    KeyRanks ranks_;
    std::uint32_t ranked_subset_ = 0;  // the subset that ranks_ counts
    PointerCategories own_meanings_;
    std::size_t texts_before_ = 0;     // the block's texts before the message's own
    std::vector<CompressedRun> runs_;  // in the order of their rows
    std::size_t runs_before_ = 0;      // the runs before the message's own
    // A compressed message's numbers, a column after another: their buffers
    // serve message after message, and are freed, not kept in the pool, so
    // that it holds only what callers have let go.
    GrowingArray<double> unpacked_values_;
    GrowingArray<std::uint64_t> unpacked_raws_;
};

}  // namespace skyrec
