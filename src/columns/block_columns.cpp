#include "columns/block_columns.hpp"

#include <algorithm>
#include <utility>

namespace skyrec {
namespace {

// Renumbers codes[i] (each a code of the message's own lists, or kNoCategory)
// through `remap`.
void renumber(std::span<std::int32_t> codes, const std::vector<std::int32_t>& remap) {
    for (std::int32_t& code : codes) {
        if (code != kNoCategory) code = remap[static_cast<std::size_t>(code)];
    }
}

template <class Texts, class Key>
std::vector<std::int32_t> merged(OwnedCategories& block, const Texts& texts, Key&& key) {
    std::vector<std::int32_t> remap;
    remap.reserve(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i)
        remap.push_back(block.code(key(i)));
    return remap;
}

}  // namespace

std::int32_t OwnedCategories::code(std::string_view text) {
    if (auto it = codes_.find(text); it != codes_.end()) return it->second;
    const auto code = static_cast<std::int32_t>(texts_.size());
    texts_.emplace_back(text);
    codes_.emplace(std::string(text), code);
    return code;
}

ColumnChunk::ColumnChunk(std::size_t count)
    : descriptor(count),
      value(count),
      raw(count),
      raw_present(count),
      subset(count),
      element(count),
      text(count),
      meaning(count) {}

ColumnArrays ColumnChunk::arrays() noexcept {
    return {descriptor.data(), value.data(),   raw.data(),  raw_present.data(),
            subset.data(),     element.data(), text.data(), meaning.data()};
}

void BlockColumns::copy_to(const ColumnArrays& out) const {
    std::size_t at = 0;
    for (const ColumnChunk& c : chunks) {
        std::copy(c.descriptor.begin(), c.descriptor.end(), out.descriptor + at);
        std::copy(c.value.begin(), c.value.end(), out.value + at);
        std::copy(c.raw.begin(), c.raw.end(), out.raw + at);
        std::copy(c.raw_present.begin(), c.raw_present.end(), out.raw_present + at);
        std::copy(c.subset.begin(), c.subset.end(), out.subset + at);
        std::copy(c.element.begin(), c.element.end(), out.element + at);
        std::copy(c.text.begin(), c.text.end(), out.text + at);
        std::copy(c.meaning.begin(), c.meaning.end(), out.meaning + at);
        at += c.descriptor.size();
    }
}

void BlockBuilder::append(const TableSet& tables, std::span<const DecodedValue> values,
                          std::span<const std::size_t> subset_starts) {
    const std::size_t count = values.size();
    ColumnChunk& c = columns_.chunks.emplace_back(count);
    columns_.count += count;
    const ColumnCategories own = fill_columns(tables, values, subset_starts, c.arrays());

    // A name with two units (local tables may differ from the master's) is two
    // elements: the pair is the key, NUL between (table texts hold none).
    std::string key;
    const auto element_remap = merged(elements_, own.element_names, [&](std::size_t i) -> std::string_view {
        key.assign(*own.element_names[i]).append(1, '\0').append(*own.element_units[i]);
        return key;
    });
    const auto text_remap = merged(texts_, own.texts, [&](std::size_t i) { return own.texts[i]; });
    const auto meaning_remap =
        merged(meanings_, own.meanings, [&](std::size_t i) -> std::string_view { return *own.meanings[i]; });
    renumber(c.element, element_remap);
    renumber(c.text, text_remap);
    renumber(c.meaning, meaning_remap);
}

std::vector<std::string> OwnedCategories::take() {
    codes_.clear();
    return std::exchange(texts_, {});
}

BlockColumns BlockBuilder::take() {
    BlockColumns out = std::exchange(columns_, {});
    for (const std::string& key : elements_.take()) {
        const std::size_t cut = key.find('\0');
        out.element_names.push_back(key.substr(0, cut));
        out.element_units.push_back(key.substr(cut + 1));
    }
    out.texts = texts_.take();
    out.meanings = meanings_.take();
    return out;
}

}  // namespace skyrec
