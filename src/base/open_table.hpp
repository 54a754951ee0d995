// A small open-addressed table from keys to values, at most half full, for
// the lookups of one call that must be cheap to make and to repeat: a hit is
// one or two compares, and an entry costs no allocation of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace skyrec {

// `Empty` is a key that never occurs; `hash` maps a key to 64 bits whose
// high half is well mixed.
template <class Key, class Value, Key Empty, std::uint64_t (*hash)(Key) noexcept>
class OpenTable {
public:
    struct Slot {
        Key key = Empty;
        Value value{};
    };

    explicit OpenTable(std::size_t first_slots) : slots_(first_slots) {}

    // The slot that holds `key`, or else the empty one where it belongs.
    Slot& slot(Key key) noexcept {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = start(key, mask);; i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (s.key == key || s.key == Empty) return s;
        }
    }

    // Fills the empty slot that slot(key) returned; slots found before are
    // no longer valid afterwards.
    void fill(Slot& empty, Key key, Value value) {
        empty = Slot{key, value};
        if (2 * ++used_ > slots_.size()) grow();
    }

private:
    static std::size_t start(Key key, std::size_t mask) noexcept {
        return static_cast<std::size_t>(hash(key) >> 32) & mask;
    }

    void grow() {
        std::vector<Slot> old(2 * slots_.size());
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& entry : old) {
            if (entry.key == Empty) continue;
            std::size_t i = start(entry.key, mask);
            while (slots_[i].key != Empty)
                i = (i + 1) & mask;
            slots_[i] = entry;
        }
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

}  // namespace skyrec
