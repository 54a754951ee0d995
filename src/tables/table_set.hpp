// The loaded BUFR tables: Table B elements, Table D sequences and code tables,
// each keyed by descriptor code. Built by the loaders, read-only afterwards.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/descriptor.hpp"
#include "tables/flag_meanings.hpp"

namespace skyrec {

struct ElementDefinition {
    DescriptorCode code = 0;
    std::string abbreviation;
    std::string element_type;
    std::string name;
    std::string unit;
    std::int32_t scale = 0;
    std::int64_t reference = 0;
    std::uint16_t width = 0;
};

struct SequenceDefinition {
    DescriptorCode code = 0;
    std::vector<DescriptorCode> members;
};

// Raw value -> meaning text (CodeTable, flag_meanings.hpp). Flag tables
// too: keyed by bit number.

class TableSet {
public:
    // Inserting under a code already present replaces the old entry whole.
    void insert_element(ElementDefinition element) {
        const DescriptorCode code = element.code;
        elements_.insert_or_assign(code, std::move(element));
    }
    void insert_sequence(SequenceDefinition sequence) {
        const DescriptorCode code = sequence.code;
        sequences_.insert_or_assign(code, std::move(sequence));
    }
    void insert_code_table(DescriptorCode code, CodeTable table) {
        code_tables_.insert_or_assign(code, std::move(table));
    }

    // Lookups read in place; nullptr when absent.
    const ElementDefinition* element(DescriptorCode code) const noexcept { return find(elements_, code); }
    const SequenceDefinition* sequence(DescriptorCode code) const noexcept { return find(sequences_, code); }
    const CodeTable* code_table(DescriptorCode code) const noexcept { return find(code_tables_, code); }
    const std::string* meaning(DescriptorCode code, std::uint64_t raw) const noexcept {
        const CodeTable* table = code_table(code);
        return table == nullptr ? nullptr : find(*table, raw);
    }

    // The meaning of a decoded flag-table value: the entries of its set bits.
    // It lives as long as the table set (and its copies).
    const std::string* flag_meaning(DescriptorCode code, std::uint32_t width, std::uint64_t raw) const {
        const CodeTable* bits = code_table(code);
        return bits == nullptr ? nullptr : flag_meanings_->find(code, *bits, width, raw);
    }

    // Every entry, in no order: what a copy of the set is made from.
    const std::unordered_map<DescriptorCode, ElementDefinition>& elements() const noexcept { return elements_; }
    const std::unordered_map<DescriptorCode, SequenceDefinition>& sequences() const noexcept { return sequences_; }
    const std::unordered_map<DescriptorCode, CodeTable>& code_tables() const noexcept { return code_tables_; }

    std::size_t element_count() const noexcept { return elements_.size(); }
    std::size_t sequence_count() const noexcept { return sequences_.size(); }

private:
    template <class Map, class Key>
    static const typename Map::mapped_type* find(const Map& map, Key key) noexcept {
        auto it = map.find(key);
        return it == map.end() ? nullptr : &it->second;
    }

    std::unordered_map<DescriptorCode, ElementDefinition> elements_;
    std::unordered_map<DescriptorCode, SequenceDefinition> sequences_;
    std::unordered_map<DescriptorCode, CodeTable> code_tables_;
    std::shared_ptr<FlagMeanings> flag_meanings_ = std::make_shared<FlagMeanings>();
};

}  // namespace skyrec
