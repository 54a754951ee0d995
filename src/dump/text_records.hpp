// The parts of a message's dump records that every format shares, and the
// text format's lines, laid out once the whole message is known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sinks/categories.hpp"

namespace skyrec {

// A text shown in the current format: itself (with its width) in text
// lines, a JSON string or a CSV field.
struct Shown {
    std::string form;
    std::size_t width = 0;
};

// What every value of one (descriptor, name) shares.
struct ElementShown {
    Shown name;
    Shown unit;
    Shown key;  // empty when the value has no key
    bool has_key = false;
    bool ranked = false;
    std::int32_t key_number = kNoCategory;    // for ranks
    bool operator_code = false;               // F = 2: a value with a raw is a marker
    bool all_chosen = true;                   // every value of its key is printed
    std::vector<std::uint32_t> chosen_ranks;  // else these
    std::string code;                         // the descriptor as the tables write it: 012101
    std::string head;  // jsonl and csv: the fields from descriptor up to the value; text: the line up to it
    std::string tail;  // jsonl and csv: from the meaning's end up to the rank
};

// A text line of the text format, kept until the message's widths are known.
struct TextRow {
    const ElementShown* element;
    const Shown* meaning;  // nullptr when none
    std::uint32_t rank;
    std::uint32_t value_at;  // the value cell in the cell arena
    std::uint32_t value_size;
    std::uint32_t value_width;  // in characters: a text's bytes may be UTF-8
    std::uint32_t subset;
};

// The text lines of `rows` (their value cells in `cells`): per chosen subset
// a line "  subset J", then one line per value of six columns, each as wide
// as its widest cell up to a bound, the same for the whole message.
// `written(j)` follows each line of subset j; false from it stops the
// writing. Sets each element's head.
bool write_text_lines(const std::vector<ElementShown*>& elements, const std::vector<TextRow>& rows,
                      std::string_view cells, std::size_t subsets, std::string& out,
                      const std::function<bool(std::size_t)>& chosen, const std::function<bool(std::size_t)>& written);

}  // namespace skyrec
