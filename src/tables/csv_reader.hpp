// Reading delimited table files record by record, through a fixed-size
// buffer: a file is never held whole. Two fixed dialects, no settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/file.hpp"
#include "message/result.hpp"

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
    static constexpr std::size_t kBufferSize = 8192;

    // Opens `path`; failure is a Text error carrying the system's description.
    static Result<CsvTableReader> open(const std::string& path, CsvDialect dialect);

    // Fills `record` with the next record and gives true, or gives false at
    // the end of the file. Errors: the system's text when reading fails, a
    // field count that differs from the first row's, invalid UTF-8.
    Result<bool> next(CsvRecord& record);

private:
    // Where a row began: rows before it, 1 + line feeds before it, bytes before it.
    struct Position {
        std::uint64_t record, line, byte;
    };

    CsvTableReader(FileDescriptor file, CsvDialect dialect);

    Status start(CsvRecord& scratch);
    Result<bool> read_row(CsvRecord& record);
    bool skip_blank_and_comment_lines();
    void skip_comment_line();
    void split_fields(CsvRecord& record);
    Status check_record(CsvRecord& record, const Position& at);

    // The byte at the read position, refilling the buffer; -1 at the end of
    // the file or after a read failure (kept in read_error_).
    int peek() {
        if (pos_ < len_) return buffer_[pos_];
        return refill() ? buffer_[pos_] : -1;
    }
    void consume() noexcept {
        ++pos_;
        ++byte_;
    }
    bool refill();

    FileDescriptor file_;
    CsvDialect dialect_;
    std::vector<std::uint8_t> buffer_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool at_end_ = false;
    std::optional<BufrError> read_error_;

    bool started_ = false;
    std::optional<std::size_t> field_count_;
    std::uint64_t record_index_ = 0;
    std::uint64_t line_ = 1;
    std::uint64_t byte_ = 0;
};

// Calls `row(record)` (returning Status) for every record of the file at
// `path`, stopping at the first error of the reader or of `row`.
template <class Row>
Status for_each_record(const std::string& path, CsvDialect dialect, Row&& row) {
    auto reader = CsvTableReader::open(path, dialect);
    if (!reader) return std::move(reader).error();
    CsvRecord record;
    for (;;) {
        auto more = reader->next(record);
        if (!more) return std::move(more).error();
        if (!*more) return Ok{};
        SKYREC_CHECK(row(static_cast<const CsvRecord&>(record)));
    }
}

}  // namespace skyrec
