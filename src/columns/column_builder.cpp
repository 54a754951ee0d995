#include "columns/column_builder.hpp"

#include <limits>
#include <unordered_map>

namespace skyrec {
namespace {

const std::string& no_unit() {
    static const std::string empty;
    return empty;
}

// The unit of the Table B entry whose name a value carries. Most values carry
// their own descriptor's; values that bitmaps refer back to (222000 to
// 225000) carry another entry's, found through a map made once when needed.
// Values that no entry names (associated fields, operators, inserted text)
// have no unit.
class Units {
public:
    explicit Units(const TableSet& tables) : tables_(tables) {}

    const std::string* of(const DecodedValue& v) {
        const ElementDefinition* element = tables_.element(v.descriptor);
        if (element != nullptr && &element->name == v.name) return &element->unit;
        if (by_name_.empty()) {
            tables_.for_each_element([&](const ElementDefinition& e) { by_name_.emplace(&e.name, &e.unit); });
        }
        auto it = by_name_.find(v.name);
        return it != by_name_.end() ? it->second : &no_unit();
    }

private:
    const TableSet& tables_;
    std::unordered_map<const std::string*, const std::string*> by_name_;
};

void fill_subsets(std::span<const std::size_t> starts, std::size_t count, std::uint32_t* subset) {
    for (std::size_t j = 0; j < starts.size(); ++j) {
        const std::size_t end = j + 1 < starts.size() ? starts[j + 1] : count;
        for (std::size_t i = starts[j]; i < end; ++i)
            subset[i] = static_cast<std::uint32_t>(j);
    }
}

}  // namespace

ColumnCategories fill_columns(const TableSet& tables, std::span<const DecodedValue> values,
                              std::span<const std::size_t> subset_starts, const ColumnArrays& out) {
    constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
    PointerCategories elements, meanings;
    TextCategories texts;
    Units units(tables);
    ColumnCategories categories;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const DecodedValue& v = values[i];
        out.descriptor[i] = v.descriptor;
        out.value[i] = v.has_value ? v.value : kMissing;
        out.raw[i] = v.has_raw ? v.raw : 0;
        out.raw_present[i] = v.has_raw ? 1 : 0;
        const std::size_t known = elements.texts().size();
        out.element[i] = elements.code(v.name);
        if (elements.texts().size() != known) categories.element_units.push_back(units.of(v));
        out.meaning[i] = v.meaning != nullptr ? meanings.code(v.meaning) : kNoCategory;
        out.text[i] = v.text.present() ? texts.code(v.text.view()) : kNoCategory;
    }
    fill_subsets(subset_starts, values.size(), out.subset);
    categories.element_names = elements.texts();
    categories.meanings = meanings.texts();
    categories.texts = texts.texts();
    return categories;
}

}  // namespace skyrec
