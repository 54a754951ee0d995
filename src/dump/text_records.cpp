#include "dump/text_records.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "dump/python_text.hpp"

namespace skyrec {
namespace {

constexpr std::size_t kWidest = 64;  // a longer text cell pushes the rest of its line right
constexpr std::string_view kGap = "  ";
constexpr std::string_view kIndent = "    ";

std::size_t key_width(const TextRow& row) {
    if (!row.element->has_key) return 0;
    std::size_t width = row.element->key.width;
    if (row.rank != 0) width += 2 + std::to_string(row.rank).size();
    return width;
}

}  // namespace

bool write_text_lines(const std::vector<ElementShown*>& elements, const std::vector<TextRow>& rows,
                      std::string_view cells, std::size_t subsets, std::string& out,
                      const std::function<bool(std::size_t)>& chosen, const std::function<bool(std::size_t)>& written) {
    // One layout for the whole message: each column as wide as its widest cell, up to kWidest.
    std::array<std::size_t, 6> widths{};
    for (const TextRow& row : rows) {
        const ElementShown& e = *row.element;
        const std::array<std::size_t, 6> sizes = {
            e.code.size(), e.name.width, row.value_width, e.unit.width, row.meaning != nullptr ? row.meaning->width : 0,
            key_width(row)};
        for (std::size_t c = 0; c < widths.size(); ++c)
            widths[c] = std::max(widths[c], std::min(kWidest, sizes[c]));
    }
    // Indent, descriptor and name are the same on every line of an element.
    for (ElementShown* shown : elements) {
        ElementShown& e = *shown;
        e.head.assign(kIndent);
        e.head += e.code;
        e.head.append(widths[0] - std::min(widths[0], e.code.size()) + kGap.size(), ' ');
        e.head += e.name.form;
        e.head.append(widths[1] - std::min(widths[1], e.name.width) + kGap.size(), ' ');
    }
    std::size_t row_index = 0;
    for (std::size_t j = 0; j < subsets; ++j) {
        if (!chosen(j)) continue;
        out += "  subset ";
        append_unsigned(out, j);
        out += '\n';
        for (; row_index < rows.size() && rows[row_index].subset == j; ++row_index) {
            const TextRow& row = rows[row_index];
            const ElementShown& e = *row.element;
            const std::size_t line_start = out.size();
            out += e.head;
            // Padding is written only before a cell that has text: the
            // line ends without it, as str.rstrip() would leave it.
            std::size_t pending = 0;
            const auto cell = [&](std::string_view text, std::size_t width, std::size_t column) {
                if (!text.empty()) {
                    out.append(pending, ' ');
                    out += text;
                    pending = 0;
                }
                pending += (width < widths[column] ? widths[column] - width : 0) + kGap.size();
            };
            cell(cells.substr(row.value_at, row.value_size), row.value_width, 2);
            cell(e.unit.form, e.unit.width, 3);
            cell(row.meaning != nullptr ? std::string_view(row.meaning->form) : std::string_view{},
                 row.meaning != nullptr ? row.meaning->width : 0, 4);
            if (e.has_key) {
                out.append(pending, ' ');
                if (row.rank != 0) {
                    out += '#';
                    append_unsigned(out, row.rank);
                    out += '#';
                }
                out += e.key.form;
            }
            const std::string_view line(out.data() + line_start, out.size() - line_start);
            out.resize(line_start + rstripped_size(line));
            out += '\n';
            if (!written(j)) return false;
        }
    }
    return true;
}

}  // namespace skyrec
