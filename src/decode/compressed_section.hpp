// Compressed data as the walk leaves it, one column per element occurrence,
// and the walk over its values in the order of the result: subset after
// subset, each in column order. Callers write each value straight into its
// place in the result, so the columns are never laid out a second time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/interrupt.hpp"
#include "decode/column.hpp"

namespace skyrec {

struct CompressedSection {
    std::vector<Column> columns;
    ByteView data;
    std::size_t subsets = 0;

    std::size_t value_count() const noexcept { return columns.size() * subsets; }
};

// Subsets visited between two interrupt checks: the columns of a message are
// bounded, so this bounds the values between checks too.
inline constexpr std::size_t kSubsetsBetweenInterruptChecks = 64;

// One value, borrowed: `text` lives until the next value is visited.
struct ValueView {
    double value = 0.0;
    std::uint64_t raw = 0;
    const std::string* name = nullptr;
    const std::string* meaning = nullptr;
    std::string_view text;
    DescriptorCode descriptor = 0;
    bool has_value = false;
    bool has_raw = false;
    bool has_text = false;
};

// What a subset changes in a column's view.
enum class ColumnPass : std::uint8_t {
    Fixed,   // nothing: a marker, or a number without increments (its meaning too)
    Number,  // the number, read from its increment
    Coded,   // the number, and the meaning of its code or flags
    Text,    // the text and its number
};

// Calls emit(column_index, view) for every value in result order; stops and
// returns false as soon as emit returns false, or when an interrupt is asked
// for (base/interrupt.hpp).
template <class Emit>
bool visit_values(const CompressedSection& section, Emit&& emit) {
    const std::vector<Column>& columns = section.columns;
    const std::size_t n = columns.size();
    // The last meaning looked up per column: most columns repeat their raw
    // values from subset to subset.
    struct Memo {
        std::uint64_t raw = 0;
        const std::string* meaning = nullptr;
        bool valid = false;
    };
    const auto meaning_of = [](const Column& column, Memo& m, const ValueView& v) -> const std::string* {
        // A missing flag value has no set bits, whatever raw it shows.
        if (column.flags != nullptr && !v.has_value) return nullptr;
        if (!m.valid || m.raw != v.raw) m = Memo{v.raw, column_meaning(column, v.raw), true};
        return m.meaning;
    };
    std::vector<Memo> memo(n);
    std::size_t text_capacity = 0;
    for (const Column& column : columns) {
        if (column.kind == Column::Kind::Character && column_text_capacity(column) > text_capacity) {
            text_capacity = column_text_capacity(column);
        }
    }
    std::string text(text_capacity, '\0');

    // Each column's view keeps what does not change from subset to subset
    // (name, descriptor, kind, and all of a column without increments); a
    // subset's numbers are worked out first, all columns at once, so that
    // their divisions overlap instead of each waiting for the last.
    std::vector<ValueView> views(n);
    std::vector<ColumnPass> passes(n, ColumnPass::Fixed);
    std::vector<std::size_t> numbers;  // the columns whose numbers change
    for (std::size_t c = 0; c < n; ++c) {
        const Column& column = columns[c];
        ValueView& v = views[c];
        v.name = column.name;
        v.descriptor = column.code;
        v.has_value = column.kind != Column::Kind::Numeric;
        v.has_raw = column.kind != Column::Kind::Character;
        if (column.kind == Column::Kind::Character) {
            passes[c] = ColumnPass::Text;
        } else if (column.kind == Column::Kind::Numeric && column.increment_width == 0) {
            const ColumnRaw r = column_raw(column, section.data, 0);
            v.raw = r.raw;
            v.value = r.missing ? 0.0 : scaled_value(r.raw, column.reference, column.divisor);
            v.has_value = !r.missing;
            if (column.codes != nullptr) v.meaning = meaning_of(column, memo[c], v);
        } else if (column.kind == Column::Kind::Numeric) {
            numbers.push_back(c);
            passes[c] = column.codes != nullptr ? ColumnPass::Coded : ColumnPass::Number;
        }
    }
    for (std::size_t j = 0; j < section.subsets; ++j) {
        if (j % kSubsetsBetweenInterruptChecks == 0 && interrupt_requested()) return false;
        for (const std::size_t c : numbers) {
            const Column& column = columns[c];
            const ColumnRaw r = column_raw(column, section.data, j);
            ValueView& v = views[c];
            v.raw = r.raw;
            v.value = r.missing ? 0.0 : scaled_value(r.raw, column.reference, column.divisor);
            v.has_value = !r.missing;
        }
        for (std::size_t c = 0; c < n; ++c) {
            ValueView& v = views[c];
            if (passes[c] == ColumnPass::Coded) {
                v.meaning = meaning_of(columns[c], memo[c], v);
            } else if (passes[c] == ColumnPass::Text) {
                const Column& column = columns[c];
                v.value = static_cast<double>(column.first_index + 1000 * std::uint64_t{j});
                v.text = {};
                v.has_text = column_text(column, section.data, j, text.data(), v.text);
            }
            if (!emit(c, static_cast<const ValueView&>(v))) return false;
        }
    }
    return true;
}

}  // namespace skyrec
