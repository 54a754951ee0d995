// Numbers and texts written as the Python side of skyrec writes them, so
// that records formatted here read byte for byte as those of the json and
// csv modules and of str.format: the same digits, escapes and quoting.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace skyrec {

// A decoded number without the noise of binary scaling: an integer below
// 1e15 as one, else 15 significant digits ("%.15g"); nan and inf as Python
// names them.
void append_plain_number(std::string& out, double value);

// The number that json and csv records carry: an integer below 1e15 as one,
// else the double nearest to its 15 significant digits, written as repr()
// writes it. `json` names the non-finite values as json.dumps does.
void append_record_number(std::string& out, double value, bool json);

void append_unsigned(std::string& out, unsigned long long value);

// A JSON string, quotes included, as json.dumps(ensure_ascii=False) writes it.
void append_json_string(std::string& out, std::string_view text);

// ASCII characters whose presence makes the csv module quote a field.
using CsvQuoted = std::array<bool, 128>;

// One CSV field, quoted (quotes doubled) when it holds a character of `quoted`.
void append_csv_field(std::string& out, std::string_view text, const CsvQuoted& quoted);

// repr() of a str, for texts of character data (ASCII, as IA5 gives them).
void append_str_repr(std::string& out, std::string_view text);

// UTF-8 `text` for a terminal: its C0 and C1 controls escaped as repr()
// escapes them, so that no text moves the cursor or retitles the terminal.
void append_terminal_text(std::string& out, std::string_view text);

// Code points of UTF-8 `text`: the width that str.format pads to.
std::size_t code_points(std::string_view text) noexcept;

// The length of UTF-8 `text` without the trailing characters that
// str.rstrip() removes.
std::size_t rstripped_size(std::string_view text) noexcept;

}  // namespace skyrec
