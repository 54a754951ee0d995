#include "sinks/observation_rows.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

#include "base/interrupt.hpp"
#include "base/limits.hpp"
#include "decode/column.hpp"
#include "decode/compressed_section.hpp"
#include "decode/scaling.hpp"
#include "sinks/shown_values.hpp"
#include "sinks/value_keys.hpp"

namespace skyrec {
namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

}  // namespace

ObservationPicker::ObservationPicker(const std::vector<ObservationKey>& keys,
                                     std::vector<ObservationCondition> conditions)
    : conditions_(std::move(conditions)) {
    rows_.columns.resize(keys.size());
    for (std::size_t c = 0; c < keys.size(); ++c) {
        const auto [it, added] = group_by_key_.try_emplace(keys[c].key, static_cast<std::int32_t>(groups_.size()));
        if (added) groups_.emplace_back();
        groups_[static_cast<std::size_t>(it->second)].push_back({static_cast<std::uint32_t>(c), keys[c].rank});
    }
    ranks_.assign(groups_.size(), 0);
    counts_.assign(keys.size(), 0);
}

Status ObservationPicker::append(const BufrMessage& message, const TableSet& tables, ByteView section4,
                                 const MessageTag& tag) {
    if (tables_ != &tables) groups_by_name_.clear();
    tables_ = &tables;
    tag_ = tag;
    first_row_ = rows_.count;
    picks_.clear();
    std::fill(ranks_.begin(), ranks_.end(), 0);
    Status decoded = subsets_.walk(message, tables, section4, *this);
    if (decoded)
        decoded = within_memory([this]() -> Status {
            flush_subset();
            return Ok{};
        });
    if (!decoded) drop_message();
    return decoded;
}

ObservationPicker::Group ObservationPicker::group_of(DescriptorCode descriptor, const std::string* name) {
    // Names live in the tables: one address, one element, one key.
    const auto [it, added] = groups_by_name_.try_emplace(name);
    if (added) {
        const ValueKey key = key_of(*tables_, descriptor, name);
        if (const auto found = group_by_key_.find(*key.key); !key.key->empty() && found != group_by_key_.end()) {
            it->second = {found->second, key.ranked};
        }
    }
    return it->second;
}

template <class Fill>
void ObservationPicker::pick(Group group, Fill&& fill) {
    const auto g = static_cast<std::size_t>(group.group);
    // Unranked values (markers, texts) answer only to the key without a rank.
    const std::uint32_t rank = group.ranked ? ++ranks_[g] : 0;
    for (const Asked& asked : groups_[g]) {
        if (asked.rank != 0 && asked.rank != rank) continue;
        Pick p{asked.column, 0, kMissing, kNoCategory};
        fill(p);
        picks_.push_back(p);
    }
}

Status ObservationPicker::take_values(std::vector<DecodedValue>& batch) {
    for (const DecodedValue& v : batch) {
        subsets_.next([this] { flush_subset(); });
        const Group group = group_of(v.descriptor, v.name);
        if (group.group < 0) continue;
        const double number = shown_number(v);
        const std::int32_t text = v.text.present() ? texts_.code(shown_text(v.text.view())) : kNoCategory;
        pick(group, [&](Pick& p) {
            p.value = number;
            p.text = text;
        });
    }
    return Ok{};
}

Status ObservationPicker::take_columns(const CompressedSection& section) {
    // Every subset has the same columns: one layout serves them all, and
    // each asked column is read down the subsets straight into its rows.
    for (std::uint32_t c = 0; c < section.columns.size(); ++c) {
        const Column& column = section.columns[c];
        const Group group = group_of(column.code, column.name);
        if (group.group >= 0) pick(group, [&](Pick& p) { p.source = c; });
    }
    const std::size_t per_subset = lay_out(targets_);
    // A stretch of subsets at a time: its rows are checked and dropped while
    // they are still in cache, and the columns grow only by what is kept.
    const std::size_t stretch =
        std::clamp<std::size_t>(kRowsAtOnce / std::max<std::size_t>(per_subset, 1), 1, kSubsetsAtOnce);
    for (std::size_t from = 0; from < section.subsets && per_subset != 0; from += stretch) {
        if (interrupt_requested()) return interrupted_error();
        read_subsets(section, per_subset, from, std::min(section.subsets, from + stretch));
    }
    picks_.clear();
    return Ok{};
}

ObservationPicker::Cell ObservationPicker::cell_at(const Column& column, ByteView data, std::size_t j) {
    Cell cell{kMissing, kNoCategory};
    if (column.kind == Column::Kind::Numeric) {
        const ColumnRaw r = column_raw(column, data, j);
        if (!r.missing) cell.value = scaled_value(r.raw, column.reference, column.divisor);
    } else if (column.kind == Column::Kind::Character) {
        text_buffer_.resize(column_text_capacity(column));
        std::string_view view;
        if (column_text(column, data, j, text_buffer_.data(), view)) cell.text = texts_.code(shown_text(view));
    }
    return cell;
}

template <class Wanted, class Put>
void ObservationPicker::spread(const CompressedSection& section, std::size_t per_subset, std::size_t from,
                               std::size_t to, std::size_t k, Wanted&& wanted, Put&& put_cell) {
    const std::int32_t target = targets_[k];
    if (target == kNoRow) return;
    const Column& column = section.columns[picks_[k].source];
    // A numeric column without increments holds one value for every subset.
    std::optional<Cell> same;
    if (column.kind == Column::Kind::Numeric && column.increment_width == 0) same = cell_at(column, section.data, 0);
    for (std::size_t j = from; j < to; ++j) {
        const std::size_t row = (j - from) * per_subset;
        std::optional<Cell> cell = same;
        const auto put_at = [&](std::size_t i) {
            if (!wanted(i)) return;
            if (!cell) cell = cell_at(column, section.data, j);
            put_cell(i, *cell);
        };
        if (target == kEveryRow) {
            for (std::size_t r = 0; r < per_subset; ++r)
                put_at(row + r);
        } else {
            put_at(row + static_cast<std::size_t>(target));
        }
    }
}

void ObservationPicker::read_subsets(const CompressedSection& section, std::size_t per_subset, std::size_t from,
                                     std::size_t to) {
    // The condition keys first, into scratch rows: the rows that fail take
    // no room and their other keys are never read.
    const std::size_t count = (to - from) * per_subset;
    // Whether a key is found in a row depends on the layout alone, the same
    // in every subset; only the ranges need the values.
    row_pattern_.assign(per_subset, 1);
    for (const ObservationCondition& condition : conditions_) {
        found_in_row_.assign(per_subset, 0);
        for (std::size_t k = 0; k < picks_.size(); ++k) {
            if (picks_[k].column != condition.column || targets_[k] == kNoRow) continue;
            if (targets_[k] == kEveryRow) {
                std::fill(found_in_row_.begin(), found_in_row_.end(), std::uint8_t{1});
            } else {
                found_in_row_[static_cast<std::size_t>(targets_[k])] = 1;
            }
        }
        for (std::size_t r = 0; r < per_subset; ++r)
            row_pattern_[r] &= found_in_row_[r];
    }
    kept_.resize(count);
    for (std::size_t i = 0; i < count; i += per_subset)
        std::copy(row_pattern_.begin(), row_pattern_.end(), kept_.begin() + static_cast<std::ptrdiff_t>(i));
    for (const ObservationCondition& condition : conditions_) {
        if (condition.ranges.empty()) continue;
        // Columns without increments hold one value for every subset: the
        // first subset's rows then judge those of all.
        const bool constant = std::all_of(picks_.begin(), picks_.end(), [&](const Pick& p) {
            const Column& c = section.columns[p.source];
            return p.column != condition.column || (c.kind == Column::Kind::Numeric && c.increment_width == 0);
        });
        const std::size_t judged = constant ? per_subset : count;
        scratch_.assign(judged, Scratch{});
        // A row that failed a condition already is not read again.
        for (std::size_t k = 0; k < picks_.size(); ++k) {
            if (picks_[k].column != condition.column) continue;
            spread(
                section, per_subset, from, constant ? from + 1 : to, k,
                [&](std::size_t i) { return (constant || kept_[i] != 0) && !scratch_[i].found; },
                [&](std::size_t i, const Cell& cell) {
                    // Field by field: a whole-struct copy of a fresh temporary stalls the store.
                    Scratch& into = scratch_[i];
                    into.cell.value = cell.value;
                    into.cell.text = cell.text;
                    into.found = true;
                });
        }
        passed_.resize(judged);
        for (std::size_t i = 0; i < judged; ++i)
            passed_[i] = static_cast<std::uint8_t>(passes(condition, scratch_[i].found, scratch_[i].cell));
        for (std::size_t i = 0; i < count; ++i)
            kept_[i] &= passed_[constant ? i % per_subset : i];
    }
    // The kept rows, each read straight from the columns into its place.
    kept_rows_.clear();
    for (std::size_t i = 0; i < count; ++i) {
        if (kept_[i] != 0) {
            kept_rows_.push_back(
                {static_cast<std::uint32_t>(from + i / per_subset), static_cast<std::int32_t>(i % per_subset)});
        }
    }
    const std::size_t first = add_blank(kept_rows_.size());
    for (std::size_t n = 0; n < kept_rows_.size(); ++n)
        rows_.subset[first + n] = kept_rows_[n].subset;
    // Where each laid-out row went: a pick aimed at one row visits only
    // that row of each subset, so the work is linear in the picks.
    placed_.assign(count, kNoRow);
    for (std::size_t n = 0; n < kept_rows_.size(); ++n) {
        const KeptRow& row = kept_rows_[n];
        placed_[(row.subset - from) * per_subset + static_cast<std::size_t>(row.row)] = static_cast<std::int64_t>(n);
    }
    for (std::size_t k = 0; k < picks_.size(); ++k) {
        const std::int32_t target = targets_[k];
        if (target == kNoRow) continue;
        const Column& column = section.columns[picks_[k].source];
        const bool same = column.kind == Column::Kind::Numeric && column.increment_width == 0;
        const Cell constant = same ? cell_at(column, section.data, 0) : Cell{kMissing, kNoCategory};
        const auto put_row = [&](std::size_t n) {
            const Cell cell = same ? constant : cell_at(column, section.data, kept_rows_[n].subset);
            put(first + n, picks_[k].column, cell.value, cell.text);
        };
        if (target == kEveryRow) {
            for (std::size_t n = 0; n < kept_rows_.size(); ++n)
                put_row(n);
            continue;
        }
        for (std::size_t i = static_cast<std::size_t>(target); i < count; i += per_subset) {
            if (placed_[i] != kNoRow) put_row(static_cast<std::size_t>(placed_[i]));
        }
    }
}

std::size_t ObservationPicker::lay_out(std::vector<std::int32_t>& targets) {
    targets.assign(picks_.size(), 0);
    if (picks_.empty()) return 0;
    std::fill(counts_.begin(), counts_.end(), 0);
    for (const Pick& p : picks_)
        ++counts_[p.column];
    const auto leader =
        std::find_if(picks_.begin(), picks_.end(), [&](const Pick& p) { return counts_[p.column] > 1; });
    if (leader == picks_.end()) return 1;
    const std::uint32_t leading = leader->column;
    std::int32_t row = -1;
    for (std::size_t k = 0; k < picks_.size(); ++k) {
        const std::uint32_t column = picks_[k].column;
        if (column == leading) ++row;
        targets[k] = counts_[column] == 1 ? kEveryRow : row >= 0 ? row : kNoRow;
    }
    return counts_[leading];
}

std::size_t ObservationPicker::add_rows(std::size_t count, std::uint32_t subset) {
    const std::size_t at = add_blank(count);
    std::fill_n(rows_.subset.data() + at, count, subset);
    return at;
}

std::size_t ObservationPicker::add_blank(std::size_t count) {
    const std::size_t at = rows_.count;
    std::fill_n(rows_.file.extend(count), count, tag_.file);
    std::fill_n(rows_.message.extend(count), count, tag_.message);
    rows_.subset.extend(count);
    for (ObservationColumn& c : rows_.columns) {
        std::fill_n(c.value.extend(count), count, kMissing);
        std::fill_n(c.found.extend(count), count, std::uint8_t{0});
        if (c.has_text) std::fill_n(c.text.extend(count), count, kNoCategory);
    }
    rows_.count += count;
    return at;
}

void ObservationPicker::put(std::size_t row, std::uint32_t column, double value, std::int32_t text) {
    ObservationColumn& c = rows_.columns[column];
    if (c.found[row] != 0) return;  // a row takes the first occurrence
    c.found[row] = 1;
    c.value[row] = value;
    if (text == kNoCategory) return;
    if (!c.has_text) {  // the first text of the key: the rows so far have none
        c.has_text = true;
        std::fill_n(c.text.extend(rows_.count), rows_.count, kNoCategory);
    }
    c.text[row] = text;
}

void ObservationPicker::flush_subset() {
    const std::size_t count = lay_out(targets_);
    if (count != 0) {
        const std::size_t first = add_rows(count, subsets_.subset());
        for (std::size_t k = 0; k < picks_.size(); ++k) {
            const Pick& p = picks_[k];
            const std::int32_t target = targets_[k];
            if (target == kEveryRow) {
                for (std::size_t r = 0; r < count; ++r)
                    put(first + r, p.column, p.value, p.text);
            } else if (target != kNoRow) {
                put(first + static_cast<std::size_t>(target), p.column, p.value, p.text);
            }
        }
        keep_passing(first);
    }
    picks_.clear();
    std::fill(ranks_.begin(), ranks_.end(), 0);
}

bool ObservationPicker::passes(const ObservationCondition& condition, bool found, const Cell& cell) noexcept {
    if (!found) return false;
    if (condition.ranges.empty() || cell.text != kNoCategory) return true;
    // NaN, a missing value, lies in no range.
    return std::any_of(condition.ranges.begin(), condition.ranges.end(),
                       [&](const auto& range) { return range.first <= cell.value && cell.value <= range.second; });
}

bool ObservationPicker::passes(std::size_t row) const noexcept {
    return std::all_of(conditions_.begin(), conditions_.end(), [&](const ObservationCondition& condition) {
        const ObservationColumn& c = rows_.columns[condition.column];
        return passes(condition, c.found[row] != 0, Cell{c.value[row], c.has_text ? c.text[row] : kNoCategory});
    });
}

void ObservationPicker::keep_passing(std::size_t first) {
    if (conditions_.empty()) return;
    std::size_t kept = first;
    for (std::size_t row = first; row < rows_.count; ++row) {
        if (!passes(row)) continue;
        if (kept != row) {
            rows_.file[kept] = rows_.file[row];
            rows_.message[kept] = rows_.message[row];
            rows_.subset[kept] = rows_.subset[row];
            for (ObservationColumn& c : rows_.columns) {
                c.value[kept] = c.value[row];
                c.found[kept] = c.found[row];
                if (c.has_text) c.text[kept] = c.text[row];
            }
        }
        ++kept;
    }
    truncate(kept);
}

void ObservationPicker::truncate(std::size_t count) noexcept {
    rows_.count = count;
    rows_.file.shrink_to(count);
    rows_.message.shrink_to(count);
    rows_.subset.shrink_to(count);
    for (ObservationColumn& c : rows_.columns) {
        c.value.shrink_to(count);
        c.found.shrink_to(count);
        c.text.shrink_to(count);
    }
}

void ObservationPicker::drop_message() noexcept {
    truncate(first_row_);
    picks_.clear();
}

ObservationRows ObservationPicker::take() {
    ObservationRows out = std::exchange(rows_, {});
    out.texts = texts_.take();
    rows_.columns.resize(out.columns.size());
    return out;
}

}  // namespace skyrec
