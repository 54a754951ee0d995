// A Table B entry as the decoder uses it: the entry, its code table and how
// its unit says to read it, resolved once per decode and then referred to by
// pointer from every occurrence.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

#include "base/open_table.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

enum class ElementKind : std::uint8_t {
    Numeric,
    CodeOrFlag,  // unit "code table ..." or "flag table ...": 201/202/207 leave it alone
    Character,   // unit exactly "CCITT IA5"
};

struct ElementRef {
    const ElementDefinition* def = nullptr;
    const std::string* name = nullptr;  // the entry's name, or one for an element no table defines
    const CodeTable* codes = nullptr;   // nullptr when the element has no code table
    const TableSet* flags = nullptr;    // for a flag table: where its set-bits meanings are kept
    ElementKind kind = ElementKind::Numeric;
    bool missing_recognised = true;  // false for class 31, whose all-ones values count
    double divisor = 1.0;            // 10^scale of the entry itself

    // The meaning of `raw` in the code table (of its set bits in a flag
    // table), or nullptr. The last answer is
    // kept, as neighbouring values of an element often repeat.
    const std::string* meaning(std::uint64_t raw) const {
        if (codes == nullptr) return nullptr;
        if (memo_valid_ && memo_raw_ == raw) return memo_meaning_;
        return look_up(raw);
    }

private:
    const std::string* look_up(std::uint64_t raw) const;

    mutable std::uint64_t memo_raw_ = 0;
    mutable const std::string* memo_meaning_ = nullptr;
    mutable bool memo_valid_ = false;
};

ElementKind element_kind(const std::string& unit) noexcept;
// Unit "flag table ...", in any case, after leading blanks.
bool is_flag_table(const std::string& unit) noexcept;

// The associated field of 204YYY as an element: code 999999, name
// "associatedField", no code table, missing values not recognised.
const ElementRef& associated_field_ref() noexcept;

// Element lookups of one decode, or of many decodes with the same tables
// when a caller keeps the cache. Each entry is resolved once and kept at a
// fixed place while the cache lives (entries are only ever added, so a walk
// may share the cache with one that it runs inside it), found again through
// an open-addressed table that is at most half full, so a repeated
// descriptor costs one or two compares and a new one no hash-map node.
class ElementCache {
public:
    // `shown`: an all-ones 031021 is missing (see Section4Sink::shows_values).
    ElementCache(const TableSet& tables, bool shown) : tables_(tables), slots_(kFirstSlots), shown_(shown) {}
    ElementCache(const ElementCache&) = delete;
    ElementCache& operator=(const ElementCache&) = delete;

    // nullptr when the code is not in Table B; else valid as long as the cache.
    const ElementRef* find(DescriptorCode code) {
        auto& slot = slots_.slot(code);
        if (slot.key == code) return slot.value;
        return fill(slot, code);
    }

    // After 206YYY, an element whose entry does not give it YYY bits (or
    // that has none) was written from another table: it is read as a plain
    // integer, unscaled and without code table.
    const ElementRef* local_width_element(DescriptorCode code, const ElementRef* entry);

    const TableSet& tables() const noexcept { return tables_; }
    // Whether this cache resolves elements as a walk of `tables` with `shown` would.
    bool serves(const TableSet& tables, bool shown) const noexcept { return &tables == &tables_ && shown == shown_; }

private:
    static constexpr std::size_t kFirstSlots = 128;
    static constexpr DescriptorCode kEmpty = 0xFFFFFFFFu;  // never an element: F would be 42949
    static std::uint64_t mix(DescriptorCode code) noexcept { return code * 0x9E3779B97F4A7C15u; }
    // A code that no table defines maps to nullptr, remembered like the others.
    using Slots = OpenTable<DescriptorCode, const ElementRef*, kEmpty, mix>;

    const ElementRef* fill(Slots::Slot& slot, DescriptorCode code);
    // Class 31's all-ones values count, except a shown 031021's.
    bool recognises_missing(DescriptorCode code) const noexcept;

    const TableSet& tables_;
    Slots slots_;
    std::deque<ElementRef> resolved_;                       // never moves an entry
    std::unordered_map<DescriptorCode, ElementRef> plain_;  // local_width_element's; nodes stay put
    std::unordered_map<DescriptorCode, ElementDefinition> undefined_;
    bool shown_;
};

}  // namespace skyrec
