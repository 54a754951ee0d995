// The block's categories: each message's own codes renumbered into the
// block's lists once the message is in.
#include <algorithm>
#include <iterator>

#include "sinks/block_columns.hpp"

namespace skyrec {
namespace {

// Renumbers codes (each a code of one message's own lists, or kNoCategory)
// through `remap`.
void renumber(std::int32_t* codes, std::size_t count, const std::vector<std::int32_t>& remap) {
    for (std::size_t i = 0; i < count; ++i) {
        if (codes[i] != kNoCategory) codes[i] = remap[static_cast<std::size_t>(codes[i])];
    }
}

// The codes in `block` of a message's own texts, merged by content.
std::vector<std::int32_t> merged(TextCategories& block, const std::vector<const std::string*>& texts) {
    std::vector<std::int32_t> remap;
    remap.reserve(texts.size());
    for (const std::string* text : texts)
        remap.push_back(block.code(*text));
    return remap;
}

}  // namespace

std::int32_t OwnedCategories::code(std::string_view text) {
    if (auto it = codes_.find(text); it != codes_.end()) return it->second;
    const auto code = static_cast<std::int32_t>(texts_.size());
    codes_.emplace(texts_.emplace_back(text), code);
    return code;
}

std::vector<std::string> OwnedCategories::take() {
    codes_.clear();
    std::vector<std::string> texts(std::make_move_iterator(texts_.begin()), std::make_move_iterator(texts_.end()));
    texts_.clear();
    return texts;
}

void OwnedCategories::truncate(std::size_t size) noexcept {
    for (; texts_.size() > size; texts_.pop_back())
        codes_.erase(texts_.back());
}

void BlockBuilder::finish_message() {
    // The codes of the message's own lists become the block's: names and
    // units each by content, so that a name with two units (local tables may
    // differ from the master's) is one name.
    const auto& own_names = names_.names();
    const auto& own_units = names_.units();
    const auto name_remap = merged(names_block_, own_names);
    const auto unit_remap = merged(units_block_, own_units);
    // A name without a key keeps no category, as a value without a meaning.
    const auto& own_keys = names_.keys();
    std::vector<std::int32_t> key_remap;
    key_remap.reserve(own_keys.size());
    for (const std::string* key : own_keys)
        key_remap.push_back(key->empty() ? kNoCategory : keys_.code(*key));
    const auto& meanings = own_meanings_.texts();
    const auto meaning_remap = merged(meanings_, meanings);
    BlockColumns& c = columns_;
    c.files = std::max(c.files, tag_.file + 1);
    if (runs_.size() > runs_before_) {
        // A compressed message: its codes are renumbered once per column.
        CompressedRun& run = runs_.back();
        run.unit.resize(run.width());
        run.key.resize(run.width());
        for (std::size_t k = 0; k < run.width(); ++k) {
            const auto own = static_cast<std::size_t>(run.name[k]);
            run.name[k] = name_remap[own];
            run.unit[k] = unit_remap[own];
            run.key[k] = key_remap[own];
        }
        renumber(run.meaning.data(), run.meaning.size(), meaning_remap);
        return;
    }
    const bool units = c.has(BlockArray::unit);
    const bool keys = c.has(BlockArray::key);
    for (std::size_t row = first_row_; c.has(BlockArray::name) && row < c.count; ++row) {
        const auto own = static_cast<std::size_t>(c.name[row]);
        c.name[row] = name_remap[own];
        if (units) c.unit[row] = unit_remap[own];
        if (keys) c.key[row] = key_remap[own];
    }
    const std::size_t rows = c.count - first_row_;
    if (c.has(BlockArray::meaning)) renumber(c.meaning.data() + first_row_, rows, meaning_remap);
    if (c.has(BlockArray::file)) std::fill_n(c.file.data() + first_row_, rows, tag_.file);
    if (c.has(BlockArray::message)) std::fill_n(c.message.data() + first_row_, rows, tag_.message);
    if (c.has(BlockArray::offset)) std::fill_n(c.offset.data() + first_row_, rows, tag_.offset);
}

}  // namespace skyrec
