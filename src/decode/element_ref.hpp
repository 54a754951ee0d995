// A Table B entry as the decoder uses it: the entry, its code table and how
// its unit says to read it, resolved once per descriptor occurrence.
#pragma once

#include <array>
#include <cstdint>

#include "tables/table_set.hpp"

namespace skyrec {

enum class ElementKind : std::uint8_t {
    Numeric,
    CodeOrFlag,  // unit "code table ..." or "flag table ...": 201/202/207 leave it alone
    Character,   // unit exactly "CCITT IA5"
};

struct ElementRef {
    const ElementDefinition* def = nullptr;
    const CodeTable* codes = nullptr;  // nullptr when the element has no code table
    ElementKind kind = ElementKind::Numeric;
};

ElementKind element_kind(const std::string& unit) noexcept;

// Element lookups of one decode, remembered in a small direct-mapped cache so
// that a repeated descriptor costs no hash-map search. The references point
// into the TableSet and stay valid while it lives.
class ElementCache {
public:
    explicit ElementCache(const TableSet& tables) noexcept : tables_(tables) {}

    // nullptr when the code is not in Table B. The pointer is valid until the
    // next find(); copy the ElementRef to keep it.
    const ElementRef* find(DescriptorCode code) {
        Slot& slot = slots_[(code * 2654435761u) >> (32 - kSlotBits)];
        if (slot.code == code) return &slot.ref;
        return fill(slot, code);
    }

    const TableSet& tables() const noexcept { return tables_; }

private:
    static constexpr unsigned kSlotBits = 9;
    static constexpr DescriptorCode kEmpty = 0xFFFFFFFFu;  // never an element: F would be 42949
    struct Slot {
        DescriptorCode code = kEmpty;
        ElementRef ref;
    };

    const ElementRef* fill(Slot& slot, DescriptorCode code);

    const TableSet& tables_;
    std::array<Slot, std::size_t{1} << kSlotBits> slots_{};
};

}  // namespace skyrec
