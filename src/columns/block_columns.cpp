#include "columns/block_columns.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <iterator>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "base/limits.hpp"
#include "columns/shown_values.hpp"
#include "decode/column_kernel.hpp"
#include "decode/compressed_section.hpp"

namespace skyrec {
namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

bool has_text(const DecodedValue& v) noexcept { return v.text.present(); }
std::string_view text_of(const DecodedValue& v) noexcept { return v.text.view(); }

// Renumbers codes (each a code of one message's own lists, or kNoCategory)
// through `remap`.
void renumber(std::int32_t* codes, std::size_t count, const std::vector<std::int32_t>& remap) {
    for (std::size_t i = 0; i < count; ++i) {
        if (codes[i] != kNoCategory) codes[i] = remap[static_cast<std::size_t>(codes[i])];
    }
}

// The codes in `block` of a message's own texts, merged by content.
std::vector<std::int32_t> merged(TextCategories& block, const std::vector<const std::string*>& texts) {
    std::vector<std::int32_t> remap;
    remap.reserve(texts.size());
    for (const std::string* text : texts)
        remap.push_back(block.code(*text));
    return remap;
}

// Rewrites the 32-bit codes of rows [begin, end) as items of `To`, front to
// back in place: item i is written over bytes that items before it held (or
// its own), so it is read first.
template <class To>
void narrow_codes(GrowingArray<std::int32_t>& codes, std::size_t begin, std::size_t end) noexcept {
    if constexpr (sizeof(To) != sizeof(std::int32_t)) {
        auto* bytes = reinterpret_cast<unsigned char*>(codes.data());
        for (std::size_t i = begin; i < end; ++i) {
            const auto code = static_cast<To>(codes[i]);
            std::memcpy(bytes + i * sizeof(To), &code, sizeof(To));
        }
    }
}

// Writes `rows` x `columns` items held a column after another as rows, in
// tiles small enough to stay in the first level cache, so that both the
// reads and the writes go along whole cache lines.
template <class T>
void transpose(const T* in, std::size_t rows, std::size_t columns, T* out) noexcept {
    constexpr std::size_t kTile = 8;
    for (std::size_t k0 = 0; k0 < columns; k0 += kTile) {
        const std::size_t k1 = std::min(columns, k0 + kTile);
        for (std::size_t j = 0; j < rows; ++j) {
            T* row = out + j * columns;
            for (std::size_t k = k0; k < k1; ++k)
                row[k] = in[k * rows + j];
        }
    }
}

enum class CodeColumn { file, name, unit, text, meaning, key };

// A run's codes of one column: `line` gets one per column, `patches` those of
// the described columns, subset after subset (nullptr when there are none).
const std::vector<std::int32_t>* run_codes(const CompressedRun& run, CodeColumn which,
                                           std::vector<std::int32_t>& line) {
    line.assign(run.width(), kNoCategory);
    switch (which) {
        case CodeColumn::file:
            line.assign(run.width(), run.tag.file);
            return nullptr;
        case CodeColumn::name:
            line = run.name;
            return nullptr;
        case CodeColumn::unit:
            line = run.unit;
            return nullptr;
        case CodeColumn::key:
            line = run.key;
            return nullptr;
        case CodeColumn::text:
            return &run.text;
        case CodeColumn::meaning:
            return &run.meaning;
    }
    return nullptr;
}

// One code column at items of `To`: the runs' rows written whole, the rows
// between them narrowed in place. Both go front to back, so no row is
// written over before it is read.
template <class To>
void lay_out_codes(GrowingArray<std::int32_t>& codes, std::size_t count, const std::vector<CompressedRun>& runs,
                   CodeColumn which) {
    auto* bytes = reinterpret_cast<unsigned char*>(codes.data());
    std::vector<std::int32_t> line;
    std::vector<To> narrow;
    std::size_t row = 0;
    for (const CompressedRun& run : runs) {
        narrow_codes<To>(codes, row, run.first);
        const std::vector<std::int32_t>* patches = run_codes(run, which, line);
        narrow.assign(line.begin(), line.end());
        const std::size_t width = run.width();
        const std::size_t described = run.described.size();
        row = run.first;
        for (std::size_t j = 0; j < run.subsets; ++j, row += width) {
            if (patches != nullptr) {
                for (std::size_t d = 0; d < described; ++d)
                    narrow[run.described[d]] = static_cast<To>((*patches)[j * described + d]);
            }
            std::memcpy(bytes + row * sizeof(To), narrow.data(), width * sizeof(To));
        }
    }
    narrow_codes<To>(codes, row, count);
}

void lay_out_column(GrowingArray<std::int32_t>& codes, std::size_t count, const std::vector<CompressedRun>& runs,
                    CodeColumn which, std::size_t width) {
    if (width == 1) return lay_out_codes<std::int8_t>(codes, count, runs, which);
    if (width == 2) return lay_out_codes<std::int16_t>(codes, count, runs, which);
    lay_out_codes<std::int32_t>(codes, count, runs, which);
}

// Rows from which laying out a block is worth a second thread.
constexpr std::size_t kRowsForTwoThreads = std::size_t{1} << 20;

struct LayOutJob {
    std::size_t bytes;  // written, to share the jobs evenly
    std::function<void()> run;
};

// Runs the jobs, split in two shares of about equal bytes when `two` (one
// on a thread of its own), and only then returns.
void run_two_ways(std::vector<LayOutJob>& jobs, bool two) {
    if (!two || jobs.size() < 2) {
        for (LayOutJob& j : jobs)
            j.run();
        return;
    }
    std::sort(jobs.begin(), jobs.end(), [](const LayOutJob& a, const LayOutJob& b) { return a.bytes > b.bytes; });
    std::vector<LayOutJob*> shares[2];
    std::size_t filled[2] = {0, 0};
    for (LayOutJob& j : jobs) {
        const int to = filled[0] <= filled[1] ? 0 : 1;
        shares[to].push_back(&j);
        filled[to] += j.bytes;
    }
    std::exception_ptr failed;
    const auto share = [&shares](int which) {
        for (LayOutJob* j : shares[which])
            j->run();
    };
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                share(1);
            } catch (...) {
                failed = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        share(1);  // no thread to be had: this one does both
    }
    try {
        share(0);
    } catch (...) {
        if (helper.joinable()) helper.join();
        throw;
    }
    if (helper.joinable()) helper.join();
    if (failed) std::rethrow_exception(failed);
}

}  // namespace

std::int32_t OwnedCategories::code(std::string_view text) {
    if (auto it = codes_.find(text); it != codes_.end()) return it->second;
    const auto code = static_cast<std::int32_t>(texts_.size());
    codes_.emplace(texts_.emplace_back(text), code);
    return code;
}

std::vector<std::string> OwnedCategories::take() {
    codes_.clear();
    std::vector<std::string> texts(std::make_move_iterator(texts_.begin()), std::make_move_iterator(texts_.end()));
    texts_.clear();
    return texts;
}

void OwnedCategories::truncate(std::size_t size) noexcept {
    for (; texts_.size() > size; texts_.pop_back())
        codes_.erase(texts_.back());
}

std::size_t BlockColumns::code_width(std::size_t categories) const noexcept {
    if (!narrowed) return sizeof(std::int32_t);
    return categories < 127 ? 1 : categories < 32767 ? 2 : 4;
}

void BlockColumns::narrow() noexcept {
    if (narrowed) return;
    narrowed = true;
    const auto column = [this](GrowingArray<std::int32_t>& codes, std::size_t categories) {
        lay_out_column(codes, count, {}, CodeColumn::file, code_width(categories));
    };
    if (has(BlockArray::file)) column(file, static_cast<std::size_t>(files));
    if (has(BlockArray::name)) column(name, names.size());
    if (has(BlockArray::unit)) column(unit, units.size());
    if (has(BlockArray::text)) column(text, texts.size());
    if (has(BlockArray::meaning)) column(meaning, meanings.size());
    if (has(BlockArray::key)) column(key, keys.size());
}

BlockBuilder::BlockBuilder(ArraySet wanted) noexcept : wanted_(wanted) {
    const bool named = wanted.has(BlockArray::unit) || wanted.has(BlockArray::key);
    columns_.arrays = named ? wanted.with(BlockArray::name) : wanted;
}

BlockBuilder::~BlockBuilder() {
    std::free(unpacked_values_.release().data);
    std::free(unpacked_raws_.release().data);
}

Status BlockBuilder::append(const BufrMessage& message, const TableSet& tables, ByteView section4,
                            std::size_t message_bytes, const MessageTag& tag) {
    block_bytes_ += message_bytes;
    tables_ = &tables;
    tag_ = tag;
    first_row_ = columns_.count;
    subset_ = 0;
    ranks_.restart();
    ranked_subset_ = 0;
    names_.clear();
    own_meanings_.clear();
    texts_before_ = texts_.size();
    runs_before_ = runs_.size();
    refused_.reset();
    Status decoded = Ok{};
    try {
        // Uncompressed values come in batches: room for the likely count
        // spares regrowing every column again and again.
        if (!message.compressed_data) {
            const std::size_t likely = std::min<std::uint64_t>(
                columns_.count + expected_values(std::uint64_t{8} * section4.size), memory_limit_ / row_bytes(false));
            columns_.for_each_array([likely](auto& array) { array.reserve(likely); });
        }
        decoded = decode_section4_into(message, tables, section4, *this, &subset_starts_);
    } catch (const std::bad_alloc&) {
        decoded = memory_error();
    }
    if (!decoded) {
        drop_message();
        if (refused_) return std::move(*refused_);
        return decoded;
    }
    finish_message();
    return Ok{};
}

std::uint64_t BlockBuilder::row_bytes(bool compressed) noexcept {
    std::uint64_t bytes = compressed ? sizeof(double) + sizeof(std::uint64_t) : 0;
    columns_.for_each_array([&](const auto& array) { bytes += sizeof(*array.data()); });
    return std::max<std::uint64_t>(bytes, 1);
}

bool BlockBuilder::admit(std::size_t count, bool compressed) {
    // Each decode is bounded on its own, but a block of many small messages
    // could still gather billions of values.
    const std::uint64_t bound = kFloor.values + kMaxBlockValuesPerByte * block_bytes_;
    if (columns_.count + count > bound) {
        refused_ = limit_error("decoded block", bound, "values", block_bytes_);
        return false;
    }
    const std::uint64_t per_row = row_bytes(compressed);
    if (columns_.count + count > memory_limit_ / per_row) {
        refused_ =
            BufrError::text("its " + std::to_string(count) + " values would take the columns to about " +
                            std::to_string((columns_.count + count) * per_row) + " bytes, past the memory limit of " +
                            std::to_string(memory_limit_) + " bytes (memory_limit= raises it)");
        return false;
    }
    columns_.for_each_array([count](auto& array) { array.extend(count); });
    columns_.count += count;
    return true;
}

template <class Value>
void BlockBuilder::put(std::size_t row, const Value& v, std::uint32_t subset) {
    BlockColumns& c = columns_;
    if (c.has(BlockArray::subset)) c.subset[row] = subset;
    if (c.has(BlockArray::descriptor)) c.descriptor[row] = v.descriptor;
    if (c.has(BlockArray::value)) c.value[row] = shows_number(v.has_value, v.has_raw, v.name) ? v.value : kMissing;
    if (c.has(BlockArray::raw)) {
        const bool raw = shows_raw(v.has_raw, v.name);
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

bool BlockBuilder::take_values(std::vector<DecodedValue>& batch) {
    const std::size_t at = columns_.count;
    if (!admit(batch.size(), false)) return false;
    // Each subset's start is known before any of its values come.
    const std::size_t first = at - first_row_;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        while (subset_ + 1 < subset_starts_.size() && subset_starts_[subset_ + 1] <= first + i)
            ++subset_;
        put(at + i, batch[i], subset_);
    }
    return true;
}

bool BlockBuilder::take_columns(const CompressedSection& section) {
    // Column by column: each column's numbers are unpacked whole, and what is
    // the same in every row of a column is worked out once and kept as a run,
    // laid out as rows when the block is taken. The numbers go to their rows
    // now, a few columns at a time so that the writes stay within few pages.
    // Meanings and texts come after, row by row, so that their categories are
    // numbered in the order of the rows, as for uncompressed data.
    const std::size_t at = columns_.count;
    if (!admit(section.value_count(), true)) return false;
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
    unpacked_values_.shrink_to(0);
    if (values_needed) unpacked_values_.extend(section.value_count());
    unpacked_raws_.shrink_to(0);
    if (raws_needed) unpacked_raws_.extend(section.value_count());
    ranks_.restart();
    for (std::size_t k = 0; k < width; ++k) {
        if (k % 64 == 0 && interrupt_requested()) return false;
        const Column& column = section.columns[k];
        run.descriptor[k] = column.code;
        run.name[k] = names_.code(*tables_, column.code, column.name);
        run.rank[k] = ranks_.next(names_.key_number(run.name[k]));
        if (column.kind == Column::Kind::Character || (column.kind == Column::Kind::Numeric && column.codes != nullptr))
            run.described.push_back(k);
        double* value = unpacked_values_.data() + k * subsets;
        std::uint64_t* raw = unpacked_raws_.data() + k * subsets;
        if (column.kind != Column::Kind::Numeric || column.name == &operator_name()) {
            if (values_needed) std::fill_n(value, subsets, kMissing);
            if (raws_needed) std::fill_n(raw, subsets, 0);
            run.raw_present[k] = 0;
        } else if (!column_within(column, section.data, subsets) ||
                   (values_needed && !unpack_values(column, section.data, subsets, value)) ||
                   (raws_needed && !unpack_raw(column, section.data, subsets, raw))) {
            refused_ = BufrError::text("a column of section 4 lies past its end");
            return false;
        }
    }
    const double* values = unpacked_values_.data();
    const std::uint64_t* raws = unpacked_raws_.data();
    if (c.has(BlockArray::value)) transpose(values, subsets, width, c.value.data() + at);
    if (c.has(BlockArray::raw)) transpose(raws, subsets, width, c.raw.data() + at);
    ranked_subset_ = subsets == 0 ? 0 : static_cast<std::uint32_t>(subsets - 1);
    if (run.described.empty() || !(meanings || texts)) return true;

    const std::size_t described = run.described.size();
    if (meanings) run.meaning.assign(described * subsets, kNoCategory);
    if (texts) run.text.assign(described * subsets, kNoCategory);
    // The last meaning looked up per column: most columns repeat their raw
    // values from subset to subset.
    struct Memo {
        std::uint64_t raw = 0;
        std::int32_t code = kNoCategory;
        bool valid = false;
    };
    std::vector<Memo> memo(described);
    std::size_t capacity = 0;
    for (const std::size_t k : run.described)
        capacity = std::max(capacity, column_text_capacity(section.columns[k]));
    std::string scratch(capacity, '\0');
    for (std::size_t j = 0; j < subsets; ++j) {
        if (j % kSubsetsBetweenInterruptChecks == 0 && interrupt_requested()) return false;
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
            if (!meanings) continue;
            const std::uint64_t raw = raws[k * subsets + j];
            // A missing value has no meaning (nor set bits), whatever raw it shows.
            if (std::isnan(values[k * subsets + j])) continue;
            Memo& m = memo[d];
            if (!m.valid || m.raw != raw) {
                const std::string* meaning = nullptr;
                if (column.flags != nullptr) {
                    meaning = column.flags->flag_meaning(column.code, column.flag_width, raw);
                } else if (const auto it = column.codes->find(raw); it != column.codes->end()) {
                    meaning = &it->second;
                }
                m = Memo{raw, meaning != nullptr ? own_meanings_.code(meaning) : kNoCategory, true};
            }
            run.meaning[at_code] = m.code;
        }
    }
    return true;
}

void BlockBuilder::finish_message() {
    // The codes of the message's own lists become the block's: names and
    // units each by content, so that a name with two units (local tables may
    // differ from the master's) is one name.
    const auto& own_names = names_.names();
    const auto& own_units = names_.units();
    const auto name_remap = merged(names_block_, own_names);
    const auto unit_remap = merged(units_block_, own_units);
    // A name without a key keeps no category, as a value without a meaning.
    const auto& own_keys = names_.keys();
    std::vector<std::int32_t> key_remap;
    key_remap.reserve(own_keys.size());
    for (const std::string* key : own_keys)
        key_remap.push_back(key->empty() ? kNoCategory : keys_.code(*key));
    const auto& meanings = own_meanings_.texts();
    const auto meaning_remap = merged(meanings_, meanings);
    BlockColumns& c = columns_;
    c.files = std::max(c.files, tag_.file + 1);
    if (runs_.size() > runs_before_) {
        // A compressed message: its codes are renumbered once per column.
        CompressedRun& run = runs_.back();
        run.unit.resize(run.width());
        run.key.resize(run.width());
        for (std::size_t k = 0; k < run.width(); ++k) {
            const auto own = static_cast<std::size_t>(run.name[k]);
            run.name[k] = name_remap[own];
            run.unit[k] = unit_remap[own];
            run.key[k] = key_remap[own];
        }
        renumber(run.meaning.data(), run.meaning.size(), meaning_remap);
        return;
    }
    const bool units = c.has(BlockArray::unit);
    const bool keys = c.has(BlockArray::key);
    for (std::size_t row = first_row_; c.has(BlockArray::name) && row < c.count; ++row) {
        const auto own = static_cast<std::size_t>(c.name[row]);
        c.name[row] = name_remap[own];
        if (units) c.unit[row] = unit_remap[own];
        if (keys) c.key[row] = key_remap[own];
    }
    const std::size_t rows = c.count - first_row_;
    if (c.has(BlockArray::meaning)) renumber(c.meaning.data() + first_row_, rows, meaning_remap);
    if (c.has(BlockArray::file)) std::fill_n(c.file.data() + first_row_, rows, tag_.file);
    if (c.has(BlockArray::message)) std::fill_n(c.message.data() + first_row_, rows, tag_.message);
    if (c.has(BlockArray::offset)) std::fill_n(c.offset.data() + first_row_, rows, tag_.offset);
}

void BlockBuilder::drop_message() noexcept {
    texts_.truncate(texts_before_);
    runs_.resize(runs_before_);
    columns_.count = first_row_;
    columns_.for_each_array([this](auto& array) { array.shrink_to(first_row_); });
}

void BlockBuilder::lay_out(bool narrowed) {
    BlockColumns& c = columns_;
    c.narrowed = narrowed;
    // One job per array, independent of the others: a large block's go two ways.
    std::vector<LayOutJob> jobs;
    const auto job = [&](BlockArray array, std::size_t item_bytes, std::function<void()> run) {
        if (c.has(array)) jobs.push_back({item_bytes * c.count, std::move(run)});
    };
    const auto each_run = [&](auto&& f) {
        return [this, f] {
            for (const CompressedRun& run : runs_)
                f(run);
        };
    };
    // Each of a run's rows repeats the run's line of an array.
    const auto repeat = [](const auto& line, auto& array, const CompressedRun& run) {
        for (std::size_t j = 0, row = run.first; j < run.subsets; ++j, row += run.width())
            std::copy_n(line.data(), run.width(), array.data() + row);
    };
    job(BlockArray::message, sizeof(std::int64_t), each_run([&c](const CompressedRun& run) {
            std::fill_n(c.message.data() + run.first, run.subsets * run.width(), run.tag.message);
        }));
    job(BlockArray::offset, sizeof(std::int64_t), each_run([&c](const CompressedRun& run) {
            std::fill_n(c.offset.data() + run.first, run.subsets * run.width(), run.tag.offset);
        }));
    job(BlockArray::descriptor, sizeof(DescriptorCode),
        each_run([&](const CompressedRun& run) { repeat(run.descriptor, c.descriptor, run); }));
    job(BlockArray::rank, sizeof(std::uint32_t),
        each_run([&](const CompressedRun& run) { repeat(run.rank, c.rank, run); }));
    job(BlockArray::raw_present, 1,
        each_run([&](const CompressedRun& run) { repeat(run.raw_present, c.raw_present, run); }));
    job(BlockArray::subset, sizeof(std::uint32_t), each_run([&c](const CompressedRun& run) {
            for (std::size_t j = 0, row = run.first; j < run.subsets; ++j, row += run.width())
                std::fill_n(c.subset.data() + row, run.width(), static_cast<std::uint32_t>(j));
        }));
    const auto column = [&](BlockArray array, GrowingArray<std::int32_t>& codes, CodeColumn which,
                            std::size_t categories) {
        const std::size_t width = c.code_width(categories);
        job(array, width, [&c, &codes, which, width, this] { lay_out_column(codes, c.count, runs_, which, width); });
    };
    column(BlockArray::file, c.file, CodeColumn::file, static_cast<std::size_t>(c.files));
    column(BlockArray::name, c.name, CodeColumn::name, c.names.size());
    column(BlockArray::unit, c.unit, CodeColumn::unit, c.units.size());
    column(BlockArray::text, c.text, CodeColumn::text, c.texts.size());
    column(BlockArray::meaning, c.meaning, CodeColumn::meaning, c.meanings.size());
    column(BlockArray::key, c.key, CodeColumn::key, c.keys.size());
    run_two_ways(jobs, c.count >= kRowsForTwoThreads);
    runs_.clear();
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
