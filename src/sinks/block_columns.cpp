#include "sinks/block_columns.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/interrupt.hpp"
#include "base/limits.hpp"
#include "decode/column_kernel.hpp"
#include "decode/compressed_section.hpp"
#include "decode/unpack_section.hpp"
#include "sinks/block_layout.hpp"
#include "sinks/shown_values.hpp"

namespace skyrec {
namespace {

bool has_text(const DecodedValue& v) noexcept { return v.text.present(); }
std::string_view text_of(const DecodedValue& v) noexcept { return v.text.view(); }

}  // namespace

BlockBuilder::BlockBuilder(ArraySet wanted) noexcept : wanted_(wanted) {
    const bool named = wanted.has(BlockArray::unit) || wanted.has(BlockArray::key);
    columns_.arrays = named ? wanted.with(BlockArray::name) : wanted;
}

BlockBuilder::~BlockBuilder() {
    std::free(unpacked_values_.release().data);
    std::free(unpacked_raws_.release().data);
}

void BlockBuilder::start_message(const TableSet& tables, std::size_t message_bytes, const MessageTag& tag) {
    block_bytes_ += message_bytes;
    tables_ = &tables;
    tag_ = tag;
    first_row_ = columns_.count;
    ranks_.restart();
    ranked_subset_ = 0;
    names_.clear();
    own_meanings_.clear();
    texts_before_ = texts_.size();
    runs_before_ = runs_.size();
}

Status BlockBuilder::end_message(Status decoded) {
    if (!decoded) {
        drop_message();
        return decoded;
    }
    finish_message();
    return Ok{};
}

Status BlockBuilder::append(const BufrMessage& message, const TableSet& tables, ByteView section4,
                            std::size_t message_bytes, const MessageTag& tag) {
    start_message(tables, message_bytes, tag);
    Status reserved = within_memory([&]() -> Status {
        // Uncompressed values come in batches: room for the likely count
        // spares regrowing every column again and again.
        if (!message.compressed_data) {
            const std::size_t likely = std::min<std::uint64_t>(
                columns_.count + expected_values(std::uint64_t{8} * section4.size), memory_limit_ / row_bytes(false));
            columns_.for_each_array([likely](auto& array) { array.reserve(likely); });
        }
        return Ok{};
    });
    return end_message(reserved ? subsets_.walk(message, tables, section4, *this) : std::move(reserved));
}

Status BlockBuilder::append_columns(const CompressedSection& section, const TableSet& tables, std::size_t message_bytes,
                                    const MessageTag& tag) {
    start_message(tables, message_bytes, tag);
    subsets_.start_columns(section);
    return end_message(within_memory([&] { return take_columns(section); }));
}

std::uint64_t BlockBuilder::row_bytes(bool compressed) noexcept {
    std::uint64_t bytes = compressed ? sizeof(double) + sizeof(std::uint64_t) : 0;
    columns_.for_each_array([&](const auto& array) { bytes += sizeof(*array.data()); });
    return std::max<std::uint64_t>(bytes, 1);
}

Status BlockBuilder::admit(std::size_t count, bool compressed) {
    // Each decode is bounded on its own, but a block of many small messages
    // could still gather billions of values.
    const std::uint64_t bound = kFloor.values + kMaxBlockValuesPerByte * block_bytes_;
    if (columns_.count + count > bound) {
        return limit_error("decoded block", bound, "values", block_bytes_);
    }
    const std::uint64_t per_row = row_bytes(compressed);
    if (columns_.count + count > memory_limit_ / per_row) {
        return BufrError::text("its " + std::to_string(count) + " values would take the columns to about " +
                               std::to_string((columns_.count + count) * per_row) +
                               " bytes, past the memory limit of " + std::to_string(memory_limit_) +
                               " bytes (memory_limit= raises it)");
    }
    columns_.for_each_array([count](auto& array) { array.extend(count); });
    columns_.count += count;
    return Ok{};
}

template <class Value>
void BlockBuilder::put(std::size_t row, const Value& v, std::uint32_t subset) {
    BlockColumns& c = columns_;
    if (c.has(BlockArray::subset)) c.subset[row] = subset;
    if (c.has(BlockArray::descriptor)) c.descriptor[row] = v.descriptor;
    if (c.has(BlockArray::value)) c.value[row] = shown_number(v);
    if (c.has(BlockArray::raw)) {
        const bool raw = shows_raw(v);
        c.raw[row] = raw ? v.raw : 0;
        c.raw_present[row] = raw ? 1 : 0;
    }
    const bool ranked = c.has(BlockArray::rank);
    if (c.has(BlockArray::name) || ranked) {
        const std::int32_t name = names_.code(*tables_, v.descriptor, v.name);
        if (c.has(BlockArray::name)) c.name[row] = name;
        if (ranked) {
            if (subset != ranked_subset_) {
                ranks_.restart();
                ranked_subset_ = subset;
            }
            c.rank[row] = ranks_.next(names_.key_number(name));
        }
    }
    if (c.has(BlockArray::meaning))
        c.meaning[row] = shown_meaning(v) != nullptr ? own_meanings_.code(v.meaning) : kNoCategory;
    // Texts are many and seldom repeat across messages: coded straight into
    // the block's list, which a failed message gives back its own.
    if (c.has(BlockArray::text)) c.text[row] = has_text(v) ? texts_.code(shown_text(text_of(v))) : kNoCategory;
}

Status BlockBuilder::take_values(std::vector<DecodedValue>& batch) {
    const std::size_t at = columns_.count;
    SKYREC_CHECK(admit(batch.size(), false));
    for (std::size_t i = 0; i < batch.size(); ++i)
        put(at + i, batch[i], subsets_.next());
    return Ok{};
}

Status BlockBuilder::take_columns(const CompressedSection& section) {
    // Column by column: each column's numbers are unpacked whole, and what is
    // the same in every row of a column is worked out once and kept as a run,
    // laid out as rows when the block is taken. The numbers go to their rows
    // now, a few columns at a time so that the writes stay within few pages.
    // Meanings and texts come after, row by row, so that their categories are
    // numbered in the order of the rows, as for uncompressed data.
    const std::size_t at = columns_.count;
    SKYREC_CHECK(admit(section.value_count(), true));
    BlockColumns& c = columns_;
    const std::size_t width = section.columns.size();
    const std::size_t subsets = section.subsets;
    CompressedRun& run = runs_.emplace_back();
    run.first = at;
    run.subsets = subsets;
    run.tag = tag_;
    run.descriptor.resize(width);
    run.name.resize(width);
    run.rank.resize(width);
    run.raw_present.assign(width, 1);
    // Meanings are looked up by raw value, and none for a missing flag value.
    const bool meanings = c.has(BlockArray::meaning);
    const bool texts = c.has(BlockArray::text);
    const bool values_needed = c.has(BlockArray::value) || meanings;
    const bool raws_needed = c.has(BlockArray::raw) || meanings;
    ranks_.restart();
    for (std::size_t k = 0; k < width; ++k) {
        const Column& column = section.columns[k];
        run.descriptor[k] = column.code;
        run.name[k] = names_.code(*tables_, column.code, column.name);
        run.rank[k] = ranks_.next(names_.key_number(run.name[k]));
        if (column.kind == Column::Kind::Character || (column.kind == Column::Kind::Numeric && column.codes != nullptr))
            run.described.push_back(k);
        if (column.kind != Column::Kind::Numeric) run.raw_present[k] = 0;
    }
    unpacked_values_.shrink_to(0);
    unpacked_raws_.shrink_to(0);
    // The block has threads of its own (laying out): one here.
    SKYREC_CHECK(unpack_section(section, values_needed ? unpacked_values_.extend(section.value_count()) : nullptr,
                                raws_needed ? unpacked_raws_.extend(section.value_count()) : nullptr, 1));
    const double* values = unpacked_values_.data();
    const std::uint64_t* raws = unpacked_raws_.data();
    if (c.has(BlockArray::value)) transpose(values, subsets, width, c.value.data() + at);
    if (c.has(BlockArray::raw)) transpose(raws, subsets, width, c.raw.data() + at);
    ranked_subset_ = subsets == 0 ? 0 : static_cast<std::uint32_t>(subsets - 1);
    if (run.described.empty() || !(meanings || texts)) return Ok{};

    const std::size_t described = run.described.size();
    if (meanings) run.meaning.assign(described * subsets, kNoCategory);
    if (texts) run.text.assign(described * subsets, kNoCategory);
    std::vector<MeaningMemo> memo(described);
    const auto meaning_code = [this](const std::string* meaning) { return own_meanings_.code(meaning); };
    std::size_t capacity = 0;
    for (const std::size_t k : run.described)
        capacity = std::max(capacity, column_text_capacity(section.columns[k]));
    std::string scratch(capacity, '\0');
    for (std::size_t j = 0; j < subsets; ++j) {
        if (j % kSubsetsBetweenInterruptChecks == 0 && interrupt_requested()) return interrupted_error();
        for (std::size_t d = 0; d < described; ++d) {
            const std::size_t k = run.described[d];
            const Column& column = section.columns[k];
            const std::size_t at_code = j * described + d;
            if (column.kind == Column::Kind::Character) {
                std::string_view text;
                if (texts && column_text(column, section.data, j, scratch.data(), text)) {
                    run.text[at_code] = texts_.code(shown_text(text));
                }
                continue;
            }
            const std::size_t at_value = k * subsets + j;
            if (meanings) run.meaning[at_code] = memo[d].code(column, values[at_value], raws[at_value], meaning_code);
        }
    }
    return Ok{};
}

void BlockBuilder::drop_message() noexcept {
    texts_.truncate(texts_before_);
    runs_.resize(runs_before_);
    columns_.count = first_row_;
    columns_.for_each_array([this](auto& array) { array.shrink_to(first_row_); });
}

BlockColumns BlockBuilder::take(bool narrowed) {
    columns_.names = names_block_.take();
    columns_.units = units_block_.take();
    columns_.texts = texts_.take();
    columns_.meanings = meanings_.take();
    columns_.keys = keys_.take();
    lay_out(narrowed);
    block_bytes_ = 0;
    const ArraySet made = columns_.arrays;
    // name made only for the codes of unit and key goes back to the pool.
    if (!wanted_.has(BlockArray::name)) columns_.name = {};
    columns_.arrays = wanted_;
    BlockColumns taken = std::exchange(columns_, {});
    columns_.arrays = made;
    return taken;
}

}  // namespace skyrec
