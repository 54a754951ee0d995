#include "columns/column_builder.hpp"

#include <limits>

#include "columns/shown_values.hpp"

namespace skyrec {
namespace {

const std::string& no_unit() {
    static const std::string empty;
    return empty;
}

void fill_subsets(std::span<const std::size_t> starts, std::size_t count, std::uint32_t* subset) {
    for (std::size_t j = 0; j < starts.size(); ++j) {
        const std::size_t end = j + 1 < starts.size() ? starts[j + 1] : count;
        for (std::size_t i = starts[j]; i < end; ++i)
            subset[i] = static_cast<std::uint32_t>(j);
    }
}

}  // namespace

const std::string* unit_of(const TableSet& tables, DescriptorCode descriptor, const std::string* name) {
    const ElementDefinition* element = tables.element(descriptor);
    return element != nullptr && &element->name == name ? &element->unit : &no_unit();
}

ColumnCategories fill_columns(const TableSet& tables, std::span<const DecodedValue> values,
                              std::span<const std::size_t> subset_starts, const ColumnArrays& out) {
    constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
    ElementCategories elements;
    PointerCategories meanings;
    TextCategories texts;
    ColumnCategories categories;
    KeyRanks ranks;
    std::size_t next_subset = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        while (next_subset < subset_starts.size() && subset_starts[next_subset] <= i) {
            ranks.restart();
            ++next_subset;
        }
        const DecodedValue& v = values[i];
        out.descriptor[i] = v.descriptor;
        out.value[i] = shows_number(v.has_value, v.has_raw, v.name) ? v.value : kMissing;
        const bool raw = shows_raw(v.has_raw, v.name);
        out.raw[i] = raw ? v.raw : 0;
        out.raw_present[i] = raw ? 1 : 0;
        out.element[i] = elements.code(tables, v.descriptor, v.name);
        out.rank[i] = ranks.next(elements.key_number(out.element[i]));
        out.meaning[i] = v.meaning != nullptr ? meanings.code(v.meaning) : kNoCategory;
        out.text[i] = v.text.present() ? texts.code(shown_text(v.text.view())) : kNoCategory;
    }
    fill_subsets(subset_starts, values.size(), out.subset);
    categories.element_names = elements.names();
    categories.element_units = elements.units();
    categories.element_keys = elements.keys();
    categories.meanings = meanings.texts();
    categories.texts = texts.texts();
    return categories;
}

}  // namespace skyrec
