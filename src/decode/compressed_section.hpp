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

// What the values of one subset share with the last, column by column, for
// a walk over a section's values in result order. Each column's view keeps
// what does not change from subset to subset (name, descriptor, kind, and all
// of a column without increments); a subset's numbers are worked out first,
// all columns at once, so that their divisions overlap instead of each
// waiting for the last.
class SectionRows {
public:
    explicit SectionRows(const CompressedSection& section);

    std::size_t columns() const noexcept { return views_.size(); }
    ColumnPass pass(std::size_t c) const noexcept { return passes_[c]; }
    // Column c's view as it stands: whole for Fixed and Number columns once
    // read_numbers has run, else once finish has.
    const ValueView& view(std::size_t c) const noexcept { return views_[c]; }

    // The numbers of subset j in every column whose numbers change.
    void read_numbers(std::size_t j) noexcept {
        for (const std::size_t c : numbers_) {
            const Column& column = section_.columns[c];
            const ColumnRaw r = column_raw(column, section_.data, j);
            ValueView& v = views_[c];
            v.raw = r.raw;
            v.value = r.missing ? 0.0 : scaled_value(r.raw, column.reference, column.divisor);
            v.has_value = !r.missing;
        }
    }
    // Column c's whole view of subset j, after read_numbers(j): the meaning
    // of a Coded column, the text of a Text column.
    const ValueView& finish(std::size_t c, std::size_t j) {
        ValueView& v = views_[c];
        if (passes_[c] == ColumnPass::Coded) {
            v.meaning = meaning_of(c);
        } else if (passes_[c] == ColumnPass::Text) {
            const Column& column = section_.columns[c];
            v.value = static_cast<double>(column.first_index + 1000 * std::uint64_t{j});
            v.text = {};
            v.has_text = column_text(column, section_.data, j, text_.data(), v.text);
        }
        return v;
    }

private:
    // The last meaning looked up per column: most columns repeat their raw
    // values from subset to subset.
    struct Memo {
        std::uint64_t raw = 0;
        const std::string* meaning = nullptr;
        bool valid = false;
    };
    const std::string* meaning_of(std::size_t c) {
        const Column& column = section_.columns[c];
        const ValueView& v = views_[c];
        // A missing flag value has no set bits, whatever raw it shows.
        if (column.flags != nullptr && !v.has_value) return nullptr;
        Memo& m = memo_[c];
        if (!m.valid || m.raw != v.raw) m = Memo{v.raw, column_meaning(column, v.raw), true};
        return m.meaning;
    }

    const CompressedSection& section_;
    std::vector<ValueView> views_;
    std::vector<ColumnPass> passes_;
    std::vector<std::size_t> numbers_;  // the columns whose numbers change
    std::vector<Memo> memo_;
    std::string text_;  // room for the longest text
};

// Calls emit(column_index, view) for every value in result order; stops and
// returns false as soon as emit returns false, or when an interrupt is asked
// for (base/interrupt.hpp).
template <class Emit>
bool visit_values(const CompressedSection& section, Emit&& emit) {
    SectionRows rows(section);
    const std::size_t n = rows.columns();
    for (std::size_t j = 0; j < section.subsets; ++j) {
        if (j % kSubsetsBetweenInterruptChecks == 0 && interrupt_requested()) return false;
        rows.read_numbers(j);
        for (std::size_t c = 0; c < n; ++c) {
            if (!emit(c, rows.finish(c, j))) return false;
        }
    }
    return true;
}

}  // namespace skyrec
