#include "tables/csv_reader.hpp"

#include <string>
#include <utility>

#include "base/utf8.hpp"

namespace skyrec {

void CsvTableReader::start(CsvRecord& record) {
    started_ = true;
    if (text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;
    if (dialect_ == CsvDialect::Wmo) {
        // The header row fixes the field count; its text is never used.
        if (read_row(record)) {
            field_count_ = record.field_count();
            record_index_ = 1;
        }
    }
}

Result<bool> CsvTableReader::next(CsvRecord& record) {
    if (!started_) start(record);
    const Position at{record_index_, line_, pos_};
    if (!read_row(record)) return false;
    SKYREC_CHECK(check_record(record, at));
    ++record_index_;
    return true;
}

bool CsvTableReader::read_row(CsvRecord& record) {
    record.bytes_.clear();
    record.ends_.clear();
    const bool found = skip_blank_and_comment_lines();
    if (found) split_fields(record);
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
    const char delimiter = dialect_ == CsvDialect::Wmo ? ',' : '|';
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
            std::size_t run = text_.find('"', pos_);
            if (run == std::string_view::npos) run = text_.size();
            const std::string_view part = text_.substr(pos_, run - pos_);
            for (const char b : part)
                if (b == '\n') ++line_;
            bytes += part;
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
            const char stops[] = {delimiter, '\n', '\r'};
            std::size_t run = text_.find_first_of(std::string_view(stops, 3), pos_);
            if (run == std::string_view::npos) run = text_.size();
            bytes += text_.substr(pos_, run - pos_);
            pos_ = run;
        }
    }
    record.ends_.push_back(bytes.size());
}

Status CsvTableReader::check_record(CsvRecord& record, const Position& at) {
    using std::to_string;
    const std::size_t count = record.field_count();
    if (!field_count_) {
        field_count_ = count;
    } else if (dialect_ == CsvDialect::ElementTable && count < *field_count_ && count >= kElementFieldsToWidth) {
        // ecCodes' own local tables leave out the CREX fields on some rows.
        record.ends_.resize(*field_count_, record.bytes_.size());
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
