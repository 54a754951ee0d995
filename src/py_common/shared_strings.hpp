// One str per table text, for one call or kept with the tables across calls
// (py_common/held_tables.hpp): decoded values refer to the names and meanings
// of their table entries instead of copying them. The texts are keyed by
// address, so they must outlive the cache: the tables' own, or static ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/open_table.hpp"
#include "py_common/pyref.hpp"

namespace skyrec::py {

class SharedStrings {
public:
    SharedStrings() : slots_(kFirstSlots) {}

    // The str of `text`, borrowed from this cache (which holds a reference
    // until it is destroyed); nullptr with an error set when it cannot be made.
    PyObject* get(const std::string* text) {
        auto& slot = slots_.slot(text);
        if (slot.key == text) return slot.value;
        return fill(slot, text);
    }

private:
    // A message names some hundreds of texts.
    static constexpr std::size_t kFirstSlots = 256;
    static std::uint64_t mix(const std::string* text) noexcept {
        return reinterpret_cast<std::uintptr_t>(text) * 0x9E3779B97F4A7C15u;
    }
    using Slots = OpenTable<const std::string*, PyObject*, nullptr, mix>;  // the str owned by strs_

    PyObject* fill(Slots::Slot& slot, const std::string* text);

    Slots slots_;
    std::vector<Ref> strs_;
};

}  // namespace skyrec::py
