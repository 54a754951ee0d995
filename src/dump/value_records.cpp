#include "dump/value_records.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/utf8.hpp"
#include "decode/compressed_section.hpp"
#include "dump/text_records.hpp"
#include "sinks/shown_values.hpp"
#include "sinks/subset_cursor.hpp"
#include "sinks/value_keys.hpp"

namespace skyrec {
namespace {

// What no element names gets a fixed key, unranked.
const std::string* fixed_key(const std::string& name) {
    static const std::array<std::string, 3> keys = {"operator", "text", "associatedField"};
    for (const std::string& key : keys)
        if (name == key) return &key;
    return nullptr;
}

// Texts as str() shows them: invalid UTF-8 replaced.
std::string readable(const std::string& text) { return is_valid_utf8(text) ? text : utf8_lossy(text); }

struct ElementId {
    DescriptorCode descriptor;
    const std::string* name;
    bool operator==(const ElementId&) const = default;
};
struct ElementIdHash {
    std::size_t operator()(const ElementId& id) const noexcept {
        return std::hash<const void*>{}(id.name) ^ (std::size_t{id.descriptor} * 0x9E3779B97F4A7C15ULL);
    }
};

// What lies between the varying fields of a jsonl or csv record.
struct Separators {
    std::string record_start;  // the prefix, up to the subset
    std::string_view position, raw, text, meaning, none, record_end;
    std::string no_text;  // from raw's end to the meaning, for a value without text

    Separators(bool json, const std::string& prefix)
        : record_start(prefix + (json ? "\"subset\": " : "")),
          position(json ? ", \"position\": " : ","),
          raw(json ? ", \"raw\": " : ","),
          text(json ? ", \"text\": " : ","),
          meaning(json ? ", \"meaning\": " : ","),
          none(json ? "null" : ""),
          record_end(json ? "}\n" : "\n"),
          no_text(std::string(text) + std::string(none) + std::string(meaning)) {}
};

class RecordSink final : public Section4Sink {
public:
    RecordSink(const TableSet& tables, const RecordOptions& options, std::string& out)
        : tables_(tables),
          options_(options),
          out_(out),
          separators_(options.format == RecordFormat::Jsonl, options.prefix) {}

    Status run(const BufrMessage& message, ByteView section4) {
        Status decoded = subsets_.walk(message, tables_, section4, *this);
        if (decoded && options_.format == RecordFormat::Text) {
            out_ += options_.prefix;
            if (!write_text()) return stopped_by_sink();
        }
        return decoded;
    }

    Status take_values(std::vector<DecodedValue>& batch) override {
        for (const DecodedValue& v : batch) {
            const std::uint32_t subset = subsets_.next();
            add(element(v.descriptor, v.name), v, v.text.present(), v.text.view(), subset, subsets_.offset());
        }
        return Ok{};
    }

    Status take_columns(const CompressedSection& section) override {
        const std::size_t width = section.columns.size();
        if (options_.format == RecordFormat::Text) rows_.reserve(section.value_count());
        // A column's values share their element.
        std::vector<const ElementShown*> elements(width, nullptr);
        const bool visited = visit_values(section, [&](std::size_t column, const ValueView& v) {
            const ElementShown*& e = elements[column];
            if (e == nullptr) e = &element(v.descriptor, v.name);
            const std::uint32_t subset = subsets_.next();
            add(*e, v, v.has_text, v.text, subset, column);
            return spill(column + 1 == width ? subset + 1 : subset);
        });
        if (!visited) return stopped_by_sink();
        return Ok{};
    }

private:
    bool json() const noexcept { return options_.format == RecordFormat::Jsonl; }

    Shown shown(std::string_view text) const {
        Shown s;
        switch (options_.format) {
            case RecordFormat::Text:
                append_terminal_text(s.form, text);
                s.width = code_points(s.form);
                break;
            case RecordFormat::Jsonl:
                append_json_string(s.form, text);
                break;
            case RecordFormat::Csv:
                append_csv_field(s.form, text, options_.csv_quoted);
                break;
        }
        return s;
    }

    const ElementShown& element(DescriptorCode code, const std::string* name) {
        auto [it, added] = elements_.try_emplace(ElementId{code, name});
        if (!added) return *it->second;
        it->second = std::make_unique<ElementShown>();
        ElementShown& e = *it->second;
        const ElementDefinition* definition = tables_.element(code);
        const std::string& own_name = definition != nullptr ? definition->name : empty_;
        e.name = shown(readable(*name));
        e.unit = shown(definition != nullptr ? readable(definition->unit) : empty_);
        const std::string* key = nullptr;
        if (own_name == *name && definition != nullptr && !definition->abbreviation.empty()) {
            key = &definition->abbreviation;
            e.ranked = true;
        } else if (own_name != *name) {
            key = fixed_key(*name);
        }
        if (key != nullptr) {
            e.has_key = true;
            e.key = shown(readable(*key));
            if (e.ranked) e.key_number = key_numbers_.number(*key);
        }
        e.operator_code = code / 100000 == 2;
        if (!options_.keys.empty()) {
            e.all_chosen = false;
            for (const auto& [wanted, rank] : options_.keys) {
                if (key == nullptr || wanted != *key) continue;
                if (rank == 0) e.all_chosen = true;
                e.chosen_ranks.push_back(rank);
            }
        }
        e.code = descriptor_text(code);
        const std::string& descriptor = e.code;
        if (json()) {
            e.head = ", \"descriptor\": \"" + descriptor + "\", \"name\": " + e.name.form +
                     ", \"unit\": " + e.unit.form + ", \"value\": ";
        } else if (options_.format == RecordFormat::Csv) {
            e.head = "," + descriptor + "," + e.name.form + "," + e.unit.form + ",";
        }
        const std::string key_form = e.has_key ? e.key.form : std::string(separators_.none);
        e.tail = json() ? ", \"key\": " + key_form + ", \"rank\": " : "," + key_form + ",";
        return e;
    }

    const Shown* meaning(const std::string* text) {
        if (text == nullptr) return nullptr;
        auto [it, added] = meanings_.try_emplace(text);
        if (added) it->second = shown(readable(*text));
        return &it->second;
    }

    template <class Value>
    void add(const ElementShown& e, const Value& v, bool has_text, std::string_view text, std::uint32_t subset,
             std::size_t position) {
        if (subset != ranked_subset_) {
            ranks_.restart();
            ranked_subset_ = subset;
            subset_chosen_ = subset_is_chosen(subset);
        }
        const std::uint32_t rank = e.ranked ? ranks_.next(e.key_number) : 0;
        if (!subset_chosen_ || !chosen(e, rank)) return;
        const bool marker = e.operator_code && v.has_raw;
        const bool number = v.has_raw && !marker && v.has_value;
        const std::string_view shown_chars = has_text ? shown_text(text) : std::string_view{};
        if (options_.format == RecordFormat::Text) {
            const std::size_t at = cells_.size();
            if (has_text) {
                append_str_repr(cells_, shown_chars);
            } else if (!marker) {
                if (number) {
                    append_plain_number(cells_, v.value);
                } else {
                    cells_ += "MISSING";
                }
            }
            const std::string_view cell = std::string_view(cells_).substr(at);
            rows_.push_back(TextRow{&e, meaning(shown_meaning(v)), rank, static_cast<std::uint32_t>(at),
                                    static_cast<std::uint32_t>(cell.size()),
                                    static_cast<std::uint32_t>(has_text ? code_points(cell) : cell.size()), subset});
            return;
        }
        const bool as_json = json();
        const Separators& sep = separators_;
        out_ += sep.record_start;
        append_unsigned(out_, subset);
        out_ += sep.position;
        append_unsigned(out_, position);
        out_ += e.head;
        if (number) {
            append_record_number(out_, v.value, as_json);
        } else {
            out_ += sep.none;
        }
        out_ += sep.raw;
        if (v.has_raw && !marker) {
            append_unsigned(out_, v.raw);
        } else {
            out_ += sep.none;
        }
        if (!has_text) {
            out_ += sep.no_text;
        } else {
            out_ += sep.text;
            if (as_json) {
                append_json_string(out_, shown_chars);
            } else {
                append_csv_field(out_, shown_chars, options_.csv_quoted);
            }
            out_ += sep.meaning;
        }
        const Shown* m = meaning(shown_meaning(v));
        out_ += m != nullptr ? std::string_view(m->form) : sep.none;
        out_ += e.tail;
        append_unsigned(out_, rank);
        out_ += sep.record_end;
    }

    static bool chosen(const ElementShown& e, std::uint32_t rank) {
        return e.all_chosen || std::find(e.chosen_ranks.begin(), e.chosen_ranks.end(), rank) != e.chosen_ranks.end();
    }

    bool subset_is_chosen(std::size_t j) const {
        if (options_.subsets.empty()) return true;
        return std::any_of(options_.subsets.begin(), options_.subsets.end(),
                           [j](const auto& range) { return range.first <= j && j <= range.second; });
    }

    // Hands the records so far to the flush, once they are many, with `done` subsets written.
    bool spill(std::size_t done) {
        if (!options_.flush || out_.size() < options_.flush_bytes) return true;
        const double subsets = static_cast<double>(std::max<std::size_t>(subsets_.starts().size(), 1));
        if (!options_.flush(out_, static_cast<double>(done) / subsets)) return false;
        out_.clear();
        return true;
    }

    bool write_text() {
        std::vector<ElementShown*> elements;
        for (auto& [id, shown] : elements_)
            elements.push_back(shown.get());
        return write_text_lines(
            elements, rows_, cells_, subsets_.starts().size(), out_,
            [this](std::size_t j) { return subset_is_chosen(j); }, [this](std::size_t j) { return spill(j); });
    }

    const TableSet& tables_;
    const RecordOptions& options_;
    std::string& out_;
    const Separators separators_;
    const std::string empty_;
    std::unordered_map<ElementId, std::unique_ptr<ElementShown>, ElementIdHash> elements_;
    std::unordered_map<const std::string*, Shown> meanings_;
    KeyNumbers key_numbers_;
    KeyRanks ranks_;
    std::size_t ranked_subset_ = 0;
    bool subset_chosen_ = subset_is_chosen(0);
    SubsetCursor subsets_;
    std::vector<TextRow> rows_;
    std::string cells_;
};

}  // namespace

Status write_value_records(const BufrMessage& message, const TableSet& tables, ByteView section4,
                           const RecordOptions& options, std::string& out) {
    RecordSink sink(tables, options, out);
    return sink.run(message, section4);
}

}  // namespace skyrec
