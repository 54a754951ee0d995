#include "sinks/wide_columns.hpp"

#include <cmath>
#include <string_view>

#include "decode/column_kernel.hpp"
#include "decode/unpack_section.hpp"
#include "sinks/element_categories.hpp"
#include "sinks/shown_values.hpp"

namespace skyrec {

Status WideBuilder::take_columns(const CompressedSection& section) {
    out_.subsets = section.subsets;
    out_.columns = section.columns.size();
    if (parts_.table) describe(section);
    // The meanings of missing values are left out: they need the numbers.
    if (parts_.numbers || parts_.details) {
        double* values = out_.values.extend(section.value_count());
        std::uint64_t* raws = parts_.details ? out_.raw.extend(section.value_count()) : nullptr;
        SKYREC_CHECK(unpack_section(section, values, raws, threads_));
    }
    if (parts_.details) look_up_meanings(section);
    if (parts_.table) read_texts(section);
    return Ok{};
}

void WideBuilder::describe(DescriptorCode descriptor, const std::string* name) {
    const std::int32_t code = names_.code(tables_, descriptor, name);
    const auto at = static_cast<std::size_t>(code);
    out_.descriptor.push_back(descriptor);
    out_.name.push_back(name);
    out_.unit.push_back(names_.units()[at]);
    out_.key.push_back(names_.keys()[at]);
    out_.rank.push_back(ranks_.next(names_.key_number(code)));
}

void WideBuilder::describe(const CompressedSection& section) {
    for (const Column& column : section.columns) {
        describe(column.code, column.name);
        // divisor is a tabulated power of ten: its logarithm is exact enough to round.
        out_.scale.push_back(static_cast<std::int32_t>(std::lround(std::log10(column.divisor))));
    }
}

std::int32_t WideBuilder::meaning_code(const std::string* text) {
    const auto [it, added] = meaning_codes_.try_emplace(text, static_cast<std::int32_t>(meaning_codes_.size()));
    if (added) out_.meaning_texts.push_back(text);
    return it->second;
}

void WideBuilder::look_up_meanings(const CompressedSection& section) {
    for (std::size_t c = 0; c < section.columns.size(); ++c) {
        const Column& column = section.columns[c];
        if (column.kind != Column::Kind::Numeric || column.codes == nullptr) continue;
        WideColumns::Meanings& m = out_.meanings.emplace_back();
        m.column = c;
        m.codes.resize(section.subsets);
        const std::uint64_t* raw = out_.raw.data() + c * section.subsets;
        const double* value = out_.values.data() + c * section.subsets;
        MeaningMemo memo;
        const auto code_of = [this](const std::string* text) { return meaning_code(text); };
        for (std::size_t j = 0; j < section.subsets; ++j)
            m.codes[j] = memo.code(column, value[j], raw[j], code_of);
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
