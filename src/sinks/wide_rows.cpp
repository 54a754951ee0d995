// The wide table of an uncompressed message: its values come subset after
// subset, each placed in its row as it comes, the first subset's naming the
// columns that every later one must repeat.

#include "base/limits.hpp"
#include "sinks/block_layout.hpp"
#include "sinks/shown_values.hpp"
#include "sinks/wide_columns.hpp"

namespace skyrec {

void WideBuilder::add_column(const DecodedValue& v, std::size_t c) {
    describe(v.descriptor, v.name);
    // Texts are the values without a raw integer that are not markers.
    const bool character = !shows_raw(v) && v.name != &operator_name();
    text_of_.push_back(character ? static_cast<std::int32_t>(out_.texts.size()) : -1);
    meaning_of_.push_back(-1);
    if (character) {
        WideColumns::Texts& t = out_.texts.emplace_back();
        t.column = c;
        t.texts.resize(out_.subsets);
        t.present.assign(out_.subsets, 0);
    }
}

Status WideBuilder::take_values(std::vector<DecodedValue>& batch) {
    for (const DecodedValue& v : batch) {
        const std::size_t subset = subsets_.next();
        const std::size_t c = subsets_.offset();
        // A message without a wide table is still walked to its end: a
        // failure further on is its own, as every other reader says.
        if (out_.subsets_differ) continue;
        if (subset == 0) {
            add_column(v, c);
        } else if (c >= out_.descriptor.size() || out_.descriptor[c] != v.descriptor) {
            out_.subsets_differ = true;
            continue;
        }
        row_values_.push_back(shown_number(v));
        const bool raw = shows_raw(v);
        row_raws_.push_back(raw ? v.raw : 0);
        if (const std::int32_t t = text_of_[c]; t >= 0 && v.text.present()) {
            WideColumns::Texts& texts = out_.texts[static_cast<std::size_t>(t)];
            texts.texts[subset] = shown_text(v.text.view());
            texts.present[subset] = 1;
        }
        if (const std::string* meaning = shown_meaning(v); meaning != nullptr) {
            if (meaning_of_[c] < 0) {
                meaning_of_[c] = static_cast<std::int32_t>(out_.meanings.size());
                out_.meanings.push_back({c, std::vector<std::int32_t>(out_.subsets, -1)});
            }
            out_.meanings[static_cast<std::size_t>(meaning_of_[c])].codes[subset] = meaning_code(meaning);
        }
    }
    return Ok{};
}

void WideBuilder::finish_rows() {
    const std::size_t subsets = out_.subsets;
    const std::size_t width = subsets == 0 ? 0 : out_.descriptor.size();
    const std::vector<std::size_t>& starts = subsets_.starts();
    bool same = row_values_.size() == subsets * width && starts.size() == subsets;
    for (std::size_t j = 0; same && j < subsets; ++j)
        same = starts[j] == j * width;
    if (!same) {
        out_.subsets_differ = true;
        return;
    }
    out_.columns = width;
    // Row after row as they came, column after column as a table holds them.
    transpose(row_values_.data(), width, subsets, out_.values.extend(row_values_.size()));
    transpose(row_raws_.data(), width, subsets, out_.raw.extend(row_raws_.size()));
}

WideColumns WideBuilder::take() {
    if (rows_ && !out_.subsets_differ) finish_rows();
    return std::move(out_);
}

Result<WideColumns> decode_wide(const BufrMessage& message, const TableSet& tables, ByteView section4,
                                unsigned threads) {
    WideBuilder builder = message.compressed_data ? WideBuilder(tables, WideParts{true, true, true}, threads)
                                                  : WideBuilder(tables, message.number_of_subsets);
    Status decoded = builder.walk(message, section4);
    // A walk that the data or the tables stopped is the message's failure, whatever rows it left.
    if (!decoded) return std::move(decoded).error();
    return within_memory([&]() -> Result<WideColumns> { return builder.take(); });
}

}  // namespace skyrec
