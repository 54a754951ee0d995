// Rows per observation from the first message of arbitrary bytes, as
// read_observations asks the core for them: up to three of the keys its
// values have, ranks and a range condition chosen by the input's last byte.
// Compressed messages take the picker's column path; its rows must be those
// that the message's flat values give by the layout rule
// (columns/observation_rows.hpp), row for row, and the second reading of the
// same message must add the same rows again.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "decode/decode_section4.hpp"
#include "fixed_tables.hpp"
#include "message/scan.hpp"
#include "sinks/observation_rows.hpp"
#include "sinks/shown_values.hpp"
#include "sinks/value_keys.hpp"

namespace {

using skyrec::DecodedValue;

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

struct Cell {
    bool found = false;
    double value = kMissing;
    std::string text;
    bool has_text = false;
};
using Row = std::vector<Cell>;

struct Asked {
    std::string key;
    std::uint32_t rank;
};

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// The rows of one subset's values [from, to) by the layout rule.
void subset_rows(const skyrec::TableSet& tables, const std::vector<DecodedValue>& values, std::size_t from,
                 std::size_t to, const std::vector<Asked>& asked, std::vector<Row>& rows) {
    struct Pick {
        std::size_t column;
        Cell cell;
    };
    std::vector<Pick> picks;
    std::vector<std::uint32_t> ranks(asked.size(), 0);
    for (std::size_t i = from; i < to; ++i) {
        const DecodedValue& v = values[i];
        const skyrec::ValueKey key = skyrec::key_of(tables, v.descriptor, v.name);
        if (key.key->empty()) continue;
        std::uint32_t rank = 0;
        bool counted = false;
        for (std::size_t c = 0; c < asked.size(); ++c) {
            if (asked[c].key != *key.key) continue;
            if (!counted && key.ranked) rank = ++ranks[c];
            counted = true;
            if (asked[c].rank != 0 && asked[c].rank != rank) continue;
            Cell cell{true, skyrec::shows_number(v) ? v.value : kMissing, {}, false};
            if (v.text.present()) cell.text = std::string(skyrec::shown_text(v.text.view())), cell.has_text = true;
            picks.push_back({c, cell});
        }
    }
    if (picks.empty()) return;
    std::vector<std::size_t> counts(asked.size(), 0);
    for (const Pick& p : picks)
        ++counts[p.column];
    std::size_t leader = asked.size();
    for (const Pick& p : picks) {
        if (counts[p.column] > 1) {
            leader = p.column;
            break;
        }
    }
    const std::size_t first = rows.size();
    rows.resize(first + (leader == asked.size() ? 1 : counts[leader]), Row(asked.size()));
    long row = leader == asked.size() ? 0 : -1;
    for (const Pick& p : picks) {
        if (p.column == leader) ++row;
        const auto put = [&](std::size_t r) {
            Cell& into = rows[first + r][p.column];
            if (!into.found) into = p.cell;
        };
        if (counts[p.column] == 1) {
            for (std::size_t r = first; r < rows.size(); ++r)
                put(r - first);
        } else if (row >= 0) {
            put(static_cast<std::size_t>(row));
        }
    }
}

bool same_cell(const Cell& expected, const skyrec::ObservationRows& rows, std::size_t c, std::size_t r) {
    const skyrec::ObservationColumn& column = rows.columns[c];
    const double value = column.value[r];
    const bool values_agree = expected.value == value || (std::isnan(expected.value) && std::isnan(value));
    const std::int32_t text = column.has_text ? column.text[r] : skyrec::kNoCategory;
    const bool texts_agree = expected.has_text ? text != skyrec::kNoCategory &&
                                                     rows.texts.at(static_cast<std::size_t>(text)) == expected.text
                                               : text == skyrec::kNoCategory;
    return (column.found[r] != 0) == expected.found && (!expected.found || (values_agree && texts_agree));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t control = data[size - 1];
    const skyrec::ByteView buffer{data, size - 1};
    auto slices = skyrec::scan_messages(buffer);
    if (!slices || slices->empty()) return 0;
    const skyrec::ByteView bytes = slices->front().in(buffer);
    auto message = skyrec::frame_any_edition(bytes);
    if (!message) return 0;
    const skyrec::TableSet& tables = fuzz::fixed_tables();
    const skyrec::ByteView section4 = message->section4_data(bytes);

    std::vector<std::size_t> starts;
    auto values = skyrec::decode_section4(*message, tables, section4, &starts);

    // The keys of the first values that have one, ranked as the control byte says.
    std::vector<Asked> asked;
    std::vector<skyrec::ObservationKey> keys;
    for (std::size_t i = 0; values && i < values->size() && asked.size() < 3; ++i) {
        const skyrec::ValueKey key = skyrec::key_of(tables, (*values)[i].descriptor, (*values)[i].name);
        bool known = key.key->empty();
        for (const Asked& a : asked)
            known = known || a.key == *key.key;
        if (known) continue;
        const auto rank = static_cast<std::uint32_t>((control >> (2 * asked.size())) & 3);
        asked.push_back({*key.key, rank});
        keys.push_back({*key.key, rank});
    }
    if (!values || asked.empty()) {
        // What fails to decode fails the picker too, and leaves no rows.
        skyrec::ObservationPicker picker(keys, {});
        const bool appended = picker.append(*message, tables, section4, {0, 0, 0}).ok();
        check((values.ok() || !appended) && picker.size() == 0);
        return 0;
    }
    // Rows of the first key, and (with the control's top bit) a value of it at most its first number.
    std::vector<skyrec::ObservationCondition> conditions;
    double most = std::numeric_limits<double>::infinity();
    if ((control & 0x80) != 0) {
        for (const DecodedValue& v : *values) {
            const skyrec::ValueKey key = skyrec::key_of(tables, v.descriptor, v.name);
            if (*key.key == asked[0].key && skyrec::shows_number(v)) {
                most = v.value;
                break;
            }
        }
    }
    conditions.push_back({0, {}});
    if (std::isfinite(most)) conditions[0].ranges.emplace_back(-std::numeric_limits<double>::infinity(), most);

    std::vector<Row> expected;
    std::vector<std::uint32_t> expected_subsets;
    for (std::size_t s = 0; s < starts.size(); ++s) {
        subset_rows(tables, *values, starts[s], s + 1 < starts.size() ? starts[s + 1] : values->size(), asked,
                    expected);
        expected_subsets.resize(expected.size(), static_cast<std::uint32_t>(s));
    }
    // The condition, as read_observations' decoder applies it.
    std::vector<Row> kept;
    std::vector<std::uint32_t> kept_subsets;
    for (std::size_t r = 0; r < expected.size(); ++r) {
        const Cell& c = expected[r][0];
        const bool in_range = conditions[0].ranges.empty() || c.has_text || (c.value <= most);
        if (c.found && in_range) {
            kept.push_back(expected[r]);
            kept_subsets.push_back(expected_subsets[r]);
        }
    }

    skyrec::ObservationPicker picker(keys, conditions);
    for (std::int64_t reading = 0; reading < 2; ++reading) {
        // Only lack of memory may fail what decoded alone.
        if (!picker.append(*message, tables, section4, {0, reading, 0})) return 0;
        check(picker.size() == kept.size() * static_cast<std::size_t>(reading + 1));
    }
    const skyrec::ObservationRows rows = picker.take();
    for (std::size_t n = 0; n < rows.count; ++n) {
        const std::size_t r = n % kept.size();
        check(rows.subset[n] == kept_subsets[r] && rows.message[n] == static_cast<std::int64_t>(n / kept.size()));
        for (std::size_t c = 0; c < asked.size(); ++c)
            check(same_cell(kept[r][c], rows, c, n));
    }
    return 0;
}
