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
#include "decode/decoded_value.hpp"

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

// Calls emit(column_index, view) for every value in result order; stops and
// returns false as soon as emit returns false, or when an interrupt is asked
// for (base/interrupt.hpp).
template <class Emit>
bool visit_values(const CompressedSection& section, Emit&& emit) {
    const std::vector<Column>& columns = section.columns;
    // The last meaning looked up per column: most columns repeat their raw
    // values from subset to subset.
    struct Memo {
        std::uint64_t raw = 0;
        const std::string* meaning = nullptr;
        bool valid = false;
    };
    std::vector<Memo> memo(columns.size());
    std::size_t text_capacity = 0;
    for (const Column& column : columns) {
        if (column.kind == Column::Kind::Character && column_text_capacity(column) > text_capacity) {
            text_capacity = column_text_capacity(column);
        }
    }
    std::string text(text_capacity, '\0');

    // A subset's numbers are worked out first, all columns at once, so that
    // their divisions overlap instead of each waiting for the last.
    struct Number {
        std::uint64_t raw;
        double value;
        bool missing;
    };
    std::vector<Number> numbers(columns.size());
    for (std::size_t j = 0; j < section.subsets; ++j) {
        if (j % kSubsetsBetweenInterruptChecks == 0 && interrupt_requested()) return false;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Column& column = columns[c];
            if (column.kind != Column::Kind::Numeric) continue;
            const ColumnRaw r = column_raw(column, section.data, j);
            numbers[c] = Number{r.raw, scaled_value(r.raw, column.reference, column.divisor), r.missing};
        }
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Column& column = columns[c];
            ValueView v;
            v.name = column.name;
            v.descriptor = column.code;
            switch (column.kind) {
                case Column::Kind::Numeric: {
                    const Number& n = numbers[c];
                    v.raw = n.raw;
                    v.has_raw = true;
                    if (!n.missing) {
                        v.value = n.value;
                        v.has_value = true;
                    }
                    if (column.flags != nullptr && n.missing) {
                        // A missing flag value has no set bits, whatever raw it shows.
                    } else if (column.codes != nullptr) {
                        Memo& m = memo[c];
                        if (!m.valid || m.raw != n.raw) {
                            if (column.flags != nullptr) {
                                m = Memo{n.raw, column.flags->flag_meaning(column.code, column.flag_width, n.raw),
                                         true};
                            } else {
                                const auto it = column.codes->find(n.raw);
                                m = Memo{n.raw, it == column.codes->end() ? nullptr : &it->second, true};
                            }
                        }
                        v.meaning = m.meaning;
                    }
                    break;
                }
                case Column::Kind::Character:
                    v.value = static_cast<double>(column.first_index + 1000 * std::uint64_t{j});
                    v.has_value = true;
                    v.has_text = column_text(column, section.data, j, text.data(), v.text);
                    break;
                case Column::Kind::Marker:
                    v.has_value = true;
                    v.has_raw = true;
                    break;
            }
            if (!emit(c, v)) return false;
        }
    }
    return true;
}

}  // namespace skyrec
