// One str per table text for the length of one call: decoded values refer to
// the names and meanings of their table entries instead of copying them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "binding/pyref.hpp"

namespace skyrec::py {

class SharedStrings {
public:
    // The str of `text`, borrowed from this cache (which holds a reference
    // until it is destroyed); nullptr with an error set when it cannot be made.
    PyObject* get(const std::string* text) {
        Slot& slot = slots_[(reinterpret_cast<std::uintptr_t>(text) * 0x9E3779B97F4A7C15u) >> (64 - kSlotBits)];
        if (slot.text == text) return slot.str;
        return fill(slot, text);
    }

private:
    // Repeated texts are found here without a hash-map search.
    static constexpr unsigned kSlotBits = 9;
    struct Slot {
        const std::string* text = nullptr;
        PyObject* str = nullptr;
    };

    PyObject* fill(Slot& slot, const std::string* text);

    std::array<Slot, std::size_t{1} << kSlotBits> slots_{};
    std::unordered_map<const std::string*, Ref> owned_;
};

}  // namespace skyrec::py
