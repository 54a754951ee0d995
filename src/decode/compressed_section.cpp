#include "decode/compressed_section.hpp"

#include <algorithm>

namespace skyrec {

SectionRows::SectionRows(const CompressedSection& section)
    : section_(section),
      views_(section.columns.size()),
      passes_(section.columns.size(), ColumnPass::Fixed),
      memo_(section.columns.size()) {
    std::size_t text_capacity = 0;
    for (std::size_t c = 0; c < views_.size(); ++c) {
        const Column& column = section.columns[c];
        ValueView& v = views_[c];
        v.name = column.name;
        v.descriptor = column.code;
        v.has_value = column.kind != Column::Kind::Numeric;
        v.has_raw = column.kind != Column::Kind::Character;
        if (column.kind == Column::Kind::Character) {
            passes_[c] = ColumnPass::Text;
            text_capacity = std::max(text_capacity, column_text_capacity(column));
        } else if (column.kind == Column::Kind::Numeric && column.increment_width == 0) {
            const ColumnRaw r = column_raw(column, section.data, 0);
            v.raw = r.raw;
            v.value = r.missing ? 0.0 : scaled_value(r.raw, column.reference, column.divisor);
            v.has_value = !r.missing;
            if (column.codes != nullptr) v.meaning = meaning_of(c);
        } else if (column.kind == Column::Kind::Numeric) {
            numbers_.push_back(c);
            passes_[c] = column.codes != nullptr ? ColumnPass::Coded : ColumnPass::Number;
        }
    }
    text_.assign(text_capacity, '\0');
}

}  // namespace skyrec
