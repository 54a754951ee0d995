#include "sinks/wide_columns.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>

#include "decode/column_kernel.hpp"
#include "decode/wide_values.hpp"
#include "sinks/element_categories.hpp"
#include "sinks/shown_values.hpp"

namespace skyrec {

Status WideBuilder::take_columns(const CompressedSection& section) {
    out_.subsets = section.subsets;
    out_.columns = section.columns.size();
    if (parts_.table) describe(section);
    // The meanings of missing values are left out: they need the numbers.
    if (parts_.numbers || parts_.details) {
        out_.values.extend(section.value_count());
        if (!unpack_section(section, out_.values.data())) {
            return BufrError::text("a column of section 4 lies past its end");
        }
    }
    if (parts_.details) {
        if (!unpack_raws(section)) return BufrError::text("a column of section 4 lies past its end");
        look_up_meanings(section);
    }
    if (parts_.table) read_texts(section);
    return Ok{};
}

void WideBuilder::describe(const CompressedSection& section) {
    ElementCategories names;
    KeyRanks ranks;
    for (const Column& column : section.columns) {
        const std::int32_t code = names.code(tables_, column.code, column.name);
        const auto at = static_cast<std::size_t>(code);
        out_.descriptor.push_back(column.code);
        out_.name.push_back(column.name);
        out_.unit.push_back(names.units()[at]);
        out_.key.push_back(names.keys()[at]);
        out_.rank.push_back(ranks.next(names.key_number(code)));
        // divisor is a tabulated power of ten: its logarithm is exact enough to round.
        out_.scale.push_back(static_cast<std::int32_t>(std::lround(std::log10(column.divisor))));
    }
}

bool WideBuilder::unpack_raws(const CompressedSection& section) {
    const std::size_t subsets = section.subsets;
    std::uint64_t* raw = out_.raw.extend(section.value_count());
    for (std::size_t c = 0; c < section.columns.size(); ++c) {
        const Column& column = section.columns[c];
        if (column.kind != Column::Kind::Numeric) {
            std::fill_n(raw + c * subsets, subsets, 0);
        } else if (!unpack_raw(column, section.data, subsets, raw + c * subsets)) {
            return false;
        }
    }
    return true;
}

struct WideBuilder::FirstMet {
    std::size_t subset;
    std::size_t meanings;  // index into out_.meanings
    std::int32_t own;      // the number within that column
    const std::string* text;
};

// A missing value has no meaning (nor set bits), where the flat list
// gives a compressed one its raw value's. Most columns repeat their raw values
// from subset to subset: each column looks up a value only when it
// changes. Codes are first numbered within their column, each number
// noting where it was first met, then renumbered in long order.
void WideBuilder::look_up_meanings(const CompressedSection& section) {
    std::vector<FirstMet> firsts;
    for (std::size_t c = 0; c < section.columns.size(); ++c) {
        const Column& column = section.columns[c];
        if (column.kind != Column::Kind::Numeric || column.codes == nullptr) continue;
        const std::size_t own = out_.meanings.size();
        WideColumns::Meanings& m = out_.meanings.emplace_back();
        m.column = c;
        m.codes.assign(section.subsets, -1);
        const std::uint64_t* raw = out_.raw.data() + c * section.subsets;
        const double* value = out_.values.data() + c * section.subsets;
        std::unordered_map<const std::string*, std::int32_t> numbers;
        std::int32_t last = -1;
        for (std::size_t j = 0; j < section.subsets; ++j) {
            if (std::isnan(value[j])) continue;  // a missing value has no meaning, whatever raw it shows
            if (j == 0 || raw[j] != raw[j - 1] || std::isnan(value[j - 1])) {
                const std::string* text = nullptr;
                if (column.flags != nullptr) {
                    text = column.flags->flag_meaning(column.code, column.flag_width, raw[j]);
                } else {
                    const auto it = column.codes->find(raw[j]);
                    text = it == column.codes->end() ? nullptr : &it->second;
                }
                last = -1;
                if (text != nullptr) {
                    const auto [it, added] = numbers.try_emplace(text, static_cast<std::int32_t>(numbers.size()));
                    if (added) firsts.push_back({j, own, it->second, text});
                    last = it->second;
                }
            }
            m.codes[j] = last;
        }
    }
    number_meanings(firsts);
}

void WideBuilder::number_meanings(std::vector<FirstMet>& firsts) {
    std::sort(firsts.begin(), firsts.end(), [](const FirstMet& a, const FirstMet& b) {
        return a.subset != b.subset ? a.subset < b.subset : a.meanings < b.meanings;
    });
    std::vector<std::vector<std::int32_t>> renumbered(out_.meanings.size());
    std::unordered_map<std::string_view, std::int32_t> by_text;
    for (const FirstMet& f : firsts) {
        const auto [it, added] = by_text.try_emplace(*f.text, static_cast<std::int32_t>(by_text.size()));
        if (added) out_.meaning_texts.push_back(f.text);
        std::vector<std::int32_t>& own = renumbered[f.meanings];
        if (own.size() <= static_cast<std::size_t>(f.own)) own.resize(static_cast<std::size_t>(f.own) + 1);
        own[static_cast<std::size_t>(f.own)] = it->second;
    }
    for (std::size_t k = 0; k < out_.meanings.size(); ++k) {
        for (std::int32_t& code : out_.meanings[k].codes) {
            if (code >= 0) code = renumbered[k][static_cast<std::size_t>(code)];
        }
    }
}

void WideBuilder::read_texts(const CompressedSection& section) {
    std::string scratch;
    for (std::size_t c = 0; c < section.columns.size(); ++c) {
        const Column& column = section.columns[c];
        if (column.kind != Column::Kind::Character) continue;
        scratch.resize(column_text_capacity(column));
        WideColumns::Texts& t = out_.texts.emplace_back();
        t.column = c;
        t.texts.reserve(section.subsets);
        t.present.reserve(section.subsets);
        for (std::size_t j = 0; j < section.subsets; ++j) {
            std::string_view text;
            const bool present = column_text(column, section.data, j, scratch.data(), text);
            t.texts.emplace_back(present ? shown_text(text) : std::string_view());
            t.present.push_back(present ? 1 : 0);
        }
    }
}

}  // namespace skyrec
