// Reading delimited table text record by record. Two fixed dialects, no settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"

namespace skyrec {

enum class CsvDialect : std::uint8_t {
    // Comma-separated; the first row is a header, read and never returned.
    Wmo,
    // Bar-separated; no header; rows whose first byte is '#' are comments.
    ElementTable,
};

// One record: its fields, addressed by 0-based position. Valid UTF-8 once
// returned by the reader.
class CsvRecord {
public:
    std::size_t field_count() const noexcept { return ends_.size(); }
    // Field `i`, for i below field_count().
    std::string_view field(std::size_t i) const noexcept {
        const std::size_t start = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(bytes_).substr(start, ends_[i] - start);
    }

private:
    friend class CsvTableReader;
    std::string bytes_;              // all fields, back to back
    std::vector<std::size_t> ends_;  // end offset of each field in bytes_
};

class CsvTableReader {
public:
    // An element.table row up to its data width; shorter rows than the first
    // but with these fields read with the rest empty.
    static constexpr std::size_t kElementFieldsToWidth = 8;

    // Reads `text`, which must outlive the reader; any bytes at all.
    CsvTableReader(std::string_view text, CsvDialect dialect) noexcept : text_(text), dialect_(dialect) {}

    // Fills `record` with the next record and gives true, or gives false at
    // the end of the text. Errors: a field count that differs from the first
    // row's, invalid UTF-8.
    Result<bool> next(CsvRecord& record);

private:
    // Where a row began: rows before it, 1 + line feeds before it, bytes before it.
    struct Position {
        std::uint64_t record, line, byte;
    };

    void start(CsvRecord& scratch);
    bool read_row(CsvRecord& record);
    bool skip_blank_and_comment_lines();
    void skip_comment_line();
    void split_fields(CsvRecord& record);
    Status check_record(CsvRecord& record, const Position& at);

    // The byte at the read position; -1 at the end of the text.
    int peek() const noexcept { return pos_ < text_.size() ? static_cast<std::uint8_t>(text_[pos_]) : -1; }
    void consume() noexcept { ++pos_; }

    std::string_view text_;
    CsvDialect dialect_;
    std::size_t pos_ = 0;  // also the byte position of error texts

    bool started_ = false;
    std::optional<std::size_t> field_count_;
    std::uint64_t record_index_ = 0;
    std::uint64_t line_ = 1;
};

// Calls `row(record)` (returning Status) for every record of `text`,
// stopping at the first error of the reader or of `row`.
template <class Row>
Status for_each_record(std::string_view text, CsvDialect dialect, Row&& row) {
    CsvTableReader reader(text, dialect);
    CsvRecord record;
    for (;;) {
        auto more = reader.next(record);
        if (!more) return std::move(more).error();
        if (!*more) return Ok{};
        SKYREC_CHECK(row(static_cast<const CsvRecord&>(record)));
    }
}

}  // namespace skyrec
