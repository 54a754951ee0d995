// Distinct texts numbered in the order first seen, so that a column of texts
// travels as small integer codes plus one list of its distinct values.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace skyrec {

inline constexpr std::int32_t kNoCategory = -1;

// Keyed by the address of a text that lives in a TableSet: names and meanings
// are shared by every value of the same entry, so the address alone tells
// them apart. A direct-mapped cache in front of the map serves the repeats.
class PointerCategories {
public:
    std::int32_t code(const std::string* text) {
        Slot& slot = cache_[slot_of(text)];
        if (slot.key == text) return slot.code;
        auto [it, added] = codes_.try_emplace(text, static_cast<std::int32_t>(texts_.size()));
        if (added) texts_.push_back(text);
        slot = {text, it->second};
        return it->second;
    }
    const std::vector<const std::string*>& texts() const noexcept { return texts_; }
    void clear() noexcept {
        if (!texts_.empty()) cache_.fill(Slot{});  // only code() fills slots, and it always adds a text
        codes_.clear();
        texts_.clear();
    }

private:
    static constexpr unsigned kCacheBits = 10;
    static constexpr std::size_t kCacheSize = std::size_t{1} << kCacheBits;
    // Addresses of heap strings share their low bits: multiply to spread them.
    static std::size_t slot_of(const std::string* text) noexcept {
        const auto bits = reinterpret_cast<std::uintptr_t>(text);
        return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15u) >> (64 - kCacheBits));
    }
    struct Slot {
        const std::string* key = nullptr;
        std::int32_t code = kNoCategory;
    };
    std::array<Slot, kCacheSize> cache_{};
    std::unordered_map<const std::string*, std::int32_t> codes_;
    std::vector<const std::string*> texts_;
};

// Keyed by content, viewing texts that outlive the categories (those of a
// TableSet): entries of different tables may share a text. Open addressing,
// as a message merges some dozens of names, units and keys and a node per
// text would cost more than the rest of it.
class TextCategories {
public:
    std::int32_t code(std::string_view text) {
        if (2 * (texts_.size() + 1) > slots_.size()) rehash(std::max<std::size_t>(64, 2 * slots_.size()));
        const std::size_t hash = std::hash<std::string_view>{}(text);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.code == kNoCategory) {
                slot = {hash, static_cast<std::int32_t>(texts_.size())};
                texts_.push_back(text);
                return slot.code;
            }
            if (slot.hash == hash && texts_[static_cast<std::size_t>(slot.code)] == text) return slot.code;
        }
    }
    // The texts, leaving the categories empty.
    std::vector<std::string_view> take() {
        slots_.clear();
        return std::exchange(texts_, {});
    }
    void clear() noexcept {
        slots_.clear();
        texts_.clear();
    }

private:
    struct Slot {
        std::size_t hash = 0;
        std::int32_t code = kNoCategory;
    };
    void rehash(std::size_t size) {
        std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(size));
        for (const Slot& slot : old) {
            if (slot.code == kNoCategory) continue;
            std::size_t i = slot.hash & (size - 1);
            while (slots_[i].code != kNoCategory)
                i = (i + 1) & (size - 1);
            slots_[i] = slot;
        }
    }
    std::vector<Slot> slots_;  // a power of two of them, at most half full
    std::vector<std::string_view> texts_;
};

}  // namespace skyrec
