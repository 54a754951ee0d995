#include "tables/csv_reader.hpp"

#include <string>
#include <utility>

#include "message/utf8.hpp"

namespace skyrec {

CsvTableReader::CsvTableReader(FileDescriptor file, CsvDialect dialect)
    : file_(std::move(file)), dialect_(dialect), buffer_(kBufferSize) {}

Result<CsvTableReader> CsvTableReader::open(const std::string& path, CsvDialect dialect) {
    auto file = open_for_reading(path);
    // Record files report open failures as plain text, not as Io.
    if (!file) return BufrError::text(file.error().detail());
    return CsvTableReader(std::move(*file), dialect);
}

bool CsvTableReader::refill() {
    if (at_end_) return false;
    auto n = read_some(file_, buffer_.data(), buffer_.size());
    if (!n || *n == 0) {
        if (!n) read_error_ = BufrError::text(n.error().detail());
        at_end_ = true;
        return false;
    }
    pos_ = 0;
    len_ = *n;
    return true;
}

Status CsvTableReader::start(CsvRecord& record) {
    started_ = true;
    // Gather the first three bytes (a read may return fewer) to look for a
    // byte-order mark.
    while (len_ < 3) {
        auto n = read_some(file_, buffer_.data() + len_, buffer_.size() - len_);
        if (!n) return BufrError::text(n.error().detail());
        if (*n == 0) break;
        len_ += *n;
    }
    if (len_ >= 3 && buffer_[0] == 0xEF && buffer_[1] == 0xBB && buffer_[2] == 0xBF) {
        pos_ = byte_ = 3;
    }
    if (dialect_ == CsvDialect::Wmo) {
        // The header row fixes the field count; its text is never used.
        auto header = read_row(record);
        if (!header) return std::move(header).error();
        if (*header) {
            field_count_ = record.field_count();
            record_index_ = 1;
        }
    }
    return Ok{};
}

Result<bool> CsvTableReader::next(CsvRecord& record) {
    if (!started_) SKYREC_CHECK(start(record));
    const Position at{record_index_, line_, byte_};
    auto row = read_row(record);
    if (!row || !*row) return row;
    SKYREC_CHECK(check_record(record, at));
    ++record_index_;
    return true;
}

Result<bool> CsvTableReader::read_row(CsvRecord& record) {
    record.bytes_.clear();
    record.ends_.clear();
    const bool found = skip_blank_and_comment_lines();
    if (found) split_fields(record);
    if (read_error_) return *read_error_;
    return found;
}

bool CsvTableReader::skip_blank_and_comment_lines() {
    const bool comments = dialect_ == CsvDialect::ElementTable;
    for (;;) {
        const int c = peek();
        if (c < 0) return false;
        if (c == '\n') {
            consume();
            ++line_;
        } else if (c == '\r') {
            consume();
        } else if (c == '#' && comments) {
            skip_comment_line();
        } else {
            return true;
        }
    }
}

void CsvTableReader::skip_comment_line() {
    // A comment ends like any row, at a line feed or a carriage return, so
    // that a file with carriage-return line ends keeps its records after it.
    for (;;) {
        const int c = peek();
        if (c < 0) return;
        consume();
        if (c == '\n') ++line_;
        if (c == '\n' || c == '\r') return;
    }
}

void CsvTableReader::split_fields(CsvRecord& record) {
    enum class State { FieldStart, Unquoted, Quoted, AfterQuote };
    const std::uint8_t delimiter = dialect_ == CsvDialect::Wmo ? ',' : '|';
    std::string& bytes = record.bytes_;
    State state = State::FieldStart;
    for (;;) {
        const int c = peek();
        if (c < 0) break;
        if (state == State::FieldStart) {
            state = State::Unquoted;
            if (c == '"') {
                consume();
                state = State::Quoted;
                continue;
            }
        } else if (state == State::Quoted) {
            if (c == '"') {
                consume();
                state = State::AfterQuote;
                continue;
            }
            // Delimiters and line ends are ordinary bytes up to the closing quote.
            std::size_t run = pos_;
            while (run < len_ && buffer_[run] != '"') {
                if (buffer_[run] == '\n') ++line_;
                ++run;
            }
            bytes.append(reinterpret_cast<const char*>(buffer_.data() + pos_), run - pos_);
            byte_ += run - pos_;
            pos_ = run;
            continue;
        } else if (state == State::AfterQuote) {
            state = State::Unquoted;
            if (c == '"') {  // a doubled quote stands for one
                consume();
                bytes += '"';
                state = State::Quoted;
                continue;
            }
        }
        // Unquoted, including text after a closing quote.
        if (c == delimiter) {
            consume();
            record.ends_.push_back(bytes.size());
            state = State::FieldStart;
        } else if (c == '\n' || c == '\r') {
            consume();
            if (c == '\n') ++line_;
            break;
        } else {
            std::size_t run = pos_;
            while (run < len_ && buffer_[run] != delimiter && buffer_[run] != '\n' && buffer_[run] != '\r')
                ++run;
            bytes.append(reinterpret_cast<const char*>(buffer_.data() + pos_), run - pos_);
            byte_ += run - pos_;
            pos_ = run;
        }
    }
    record.ends_.push_back(bytes.size());
}

Status CsvTableReader::check_record(const CsvRecord& record, const Position& at) {
    using std::to_string;
    const std::size_t count = record.field_count();
    if (!field_count_) {
        field_count_ = count;
    } else if (count != *field_count_) {
        return BufrError::table_syntax("CSV error: record " + to_string(at.record) + " (line: " + to_string(at.line) +
                                       ", byte: " + to_string(at.byte) + "): found record with " + to_string(count) +
                                       " fields, but the previous record has " + to_string(*field_count_) + " fields");
    }
    // Field by field: two invalid halves can make a valid whole.
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view field = record.field(i);
        const std::size_t valid = valid_utf8_prefix(field);
        if (valid == field.size()) continue;
        const std::string index = to_string(i);
        return BufrError::table_syntax("CSV parse error: record " + to_string(at.record) + " (line " +
                                       to_string(at.line) + ", field: " + index + ", byte: " + to_string(at.byte) +
                                       "): invalid utf-8: invalid UTF-8 in field " + index + " near byte index " +
                                       to_string(valid));
    }
    return Ok{};
}

}  // namespace skyrec
