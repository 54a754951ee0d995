// One str per table text for the length of one call: decoded values refer to
// the names and meanings of their table entries instead of copying them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/pyref.hpp"

namespace skyrec::py {

class SharedStrings {
public:
    SharedStrings() : slots_(kFirstSlots) {}

    // The str of `text`, borrowed from this cache (which holds a reference
    // until it is destroyed); nullptr with an error set when it cannot be made.
    PyObject* get(const std::string* text) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = slot_of(text, mask);; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (slot.text == text) return slot.str;
            if (slot.text == nullptr) return fill(i, text);
        }
    }

private:
    // Texts are few per call (a message names some hundreds): an open-addressed
    // table, at most half full, finds them without a hash-map node each.
    static constexpr std::size_t kFirstSlots = 256;
    struct Slot {
        const std::string* text = nullptr;
        PyObject* str = nullptr;  // owned by strs_
    };

    static std::size_t slot_of(const std::string* text, std::size_t mask) noexcept {
        return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(text) * 0x9E3779B97F4A7C15u) >> 32) & mask;
    }
    PyObject* fill(std::size_t slot, const std::string* text);
    void grow();

    std::vector<Slot> slots_;
    std::vector<Ref> strs_;
};

}  // namespace skyrec::py
