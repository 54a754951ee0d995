// Rows per observation, straight from the decoder: only the values of the
// asked keys are kept, laid out one row per observation as they come.
//
// Within each subset, an asked key found once belongs to the level that
// encloses the observations, and its value goes on every row of the subset.
// Among the keys found more than once, the first met leads: each of its
// occurrences starts a row, which takes the first occurrence of every other
// repeated key up to the next start (a TEMP level's pressure, temperature and
// dew point); repeated values before the first start belong to no row. A
// subset whose asked keys are all found once makes one row, one that has
// none of them makes none.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/result.hpp"
#include "decode/column.hpp"
#include "decode/compressed_section.hpp"
#include "decode/decode_section4.hpp"
#include "message/message.hpp"
#include "sinks/block_columns.hpp"
#include "sinks/growing_array.hpp"
#include "sinks/subset_cursor.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// An asked key: every occurrence (rank 0), or the rank-th in its subset ("#rank#key").
struct ObservationKey {
    std::string key;
    std::uint32_t rank = 0;
};

// A row is kept only where the key of `column` is found and, unless
// `ranges` is empty, its value is a text or lies in one of the ranges (both
// ends included): what cannot pass is dropped before it takes room.
struct ObservationCondition {
    std::uint32_t column = 0;
    std::vector<std::pair<double, double>> ranges;
};

struct ObservationColumn {
    GrowingArray<double> value;        // NaN when missing or absent
    GrowingArray<std::uint8_t> found;  // 1 where the key is present, missing or not
    GrowingArray<std::int32_t> text;   // into ObservationRows::texts, or kNoCategory; once has_text
    bool has_text = false;             // some value of the key was a text
};

struct ObservationRows {
    std::size_t count = 0;
    GrowingArray<std::int32_t> file;
    GrowingArray<std::int64_t> message;
    GrowingArray<std::uint32_t> subset;
    std::vector<ObservationColumn> columns;  // one per asked key, in order
    std::vector<std::string> texts;
};

class ObservationPicker final : public Section4Sink {
public:
    ObservationPicker(const std::vector<ObservationKey>& keys, std::vector<ObservationCondition> conditions);

    // Adds the rows of one message; on failure the rows are as they were.
    // `tables` must outlive the picker (what it learnt of them is kept).
    Status append(const BufrMessage& message, const TableSet& tables, ByteView section4, const MessageTag& tag);
    std::size_t size() const noexcept { return rows_.count; }
    // The rows so far; the picker is left empty.
    ObservationRows take();

    Status take_values(std::vector<DecodedValue>& batch) override;
    Status take_columns(const CompressedSection& section) override;

private:
    // One value of an asked key in a subset: its column, and (compressed
    // data) the section column it is read from.
    struct Pick {
        std::uint32_t column;
        std::uint32_t source;
        double value;
        std::int32_t text;
    };
    struct Asked {
        std::uint32_t column;
        std::uint32_t rank;
    };
    static constexpr std::int32_t kEveryRow = -1;
    static constexpr std::int32_t kNoRow = -2;
    static constexpr std::size_t kSubsetsAtOnce = 256;
    static constexpr std::size_t kRowsAtOnce = 65536;  // fewer subsets at once when they have many rows

    // The group of asked columns that a name's key feeds (group -1 for none),
    // and whether its values are ranked.
    struct Group {
        std::int32_t group = -1;
        bool ranked = false;
    };
    Group group_of(DescriptorCode descriptor, const std::string* name);
    // Appends to picks_ the asked columns that the next value of `group` feeds.
    template <class Fill>
    void pick(Group group, Fill&& fill);
    // The row each pick goes to (kEveryRow, kNoRow or a row), and the row count.
    std::size_t lay_out(std::vector<std::int32_t>& targets);
    // Room for `count` rows of `subset`, blank; returns the first.
    std::size_t add_rows(std::size_t count, std::uint32_t subset);
    // The same, their subsets left for the caller to set.
    std::size_t add_blank(std::size_t count);
    void put(std::size_t row, std::uint32_t column, double value, std::int32_t text);
    void flush_subset();
    // Compressed data: the rows of subsets [from, to), laid out as picks_ and targets_ say.
    void read_subsets(const CompressedSection& section, std::size_t per_subset, std::size_t from, std::size_t to);
    struct Cell {
        double value;
        std::int32_t text;
    };
    Cell cell_at(const Column& column, ByteView data, std::size_t j);
    // Calls put_cell(row, cell) for the rows of subsets [from, to) (counted
    // from the first of them) that pick k feeds and wanted(row) accepts;
    // the others' cells are never read.
    template <class Wanted, class Put>
    void spread(const CompressedSection& section, std::size_t per_subset, std::size_t from, std::size_t to,
                std::size_t k, Wanted&& wanted, Put&& put_cell);
    static bool passes(const ObservationCondition& condition, bool found, const Cell& cell) noexcept;
    bool passes(std::size_t row) const noexcept;
    // Drops the rows from `first` on that fail a condition.
    void keep_passing(std::size_t first);
    void truncate(std::size_t count) noexcept;
    void drop_message() noexcept;

    std::vector<ObservationCondition> conditions_;
    std::vector<std::vector<Asked>> groups_;  // by distinct key
    std::unordered_map<std::string, std::int32_t> group_by_key_;
    ObservationRows rows_;
    OwnedCategories texts_;

    // The message being read; groups_by_name_ serves every message of the same tables.
    const TableSet* tables_ = nullptr;
    MessageTag tag_;
    std::size_t first_row_ = 0;
    std::unordered_map<const std::string*, Group> groups_by_name_;
    SubsetCursor subsets_;
    std::vector<std::uint32_t> ranks_;   // of each group in the subset
    std::vector<Pick> picks_;            // of the subset
    std::vector<std::uint32_t> counts_;  // of each column in the subset
    std::vector<std::int32_t> targets_;
    std::string text_buffer_;
    struct Scratch {
        Cell cell{0.0, -1};
        bool found = false;
    };
    std::vector<Scratch> scratch_;
    std::vector<std::uint8_t> kept_;
    std::vector<std::uint8_t> passed_;  // of one range condition
    std::vector<std::uint8_t> found_in_row_;
    std::vector<std::uint8_t> row_pattern_;
    struct KeptRow {
        std::uint32_t subset;
        std::int32_t row;  // within the subset
    };
    std::vector<KeptRow> kept_rows_;
    std::vector<std::int64_t> placed_;  // of each laid-out row: its place in kept_rows_, or kNoRow
};

}  // namespace skyrec
