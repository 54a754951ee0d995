// Meanings of flag-table values: the entries of the bits that are set.
// Flag tables number their bits from 1, the most significant of the
// element's width, and list one entry per bit.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "base/descriptor.hpp"

namespace skyrec {

using CodeTable = std::unordered_map<std::uint64_t, std::string>;

// The entries of the set bits of `raw`, in bit order, joined by "; ";
// empty when no set bit has an entry or when `raw` is all ones (missing).
std::string flag_meaning_text(const CodeTable& bits, std::uint32_t width, std::uint64_t raw);

// The texts made so far, kept so that decoded values can point at them
// like at any other meaning. Safe to share between threads.
class FlagMeanings {
public:
    // Past this many texts, further combinations get no meaning: hostile
    // data cannot make the cache grow without end.
    static constexpr std::size_t kMaxTexts = std::size_t{1} << 20;

    // nullptr when the value has no meaning.
    const std::string* find(DescriptorCode code, const CodeTable& bits, std::uint32_t width, std::uint64_t raw);

private:
    struct Key {
        DescriptorCode code;
        std::uint32_t width;
        std::uint64_t raw;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept {
            return std::hash<std::uint64_t>{}(k.raw * 0x9E3779B97F4A7C15u ^ (std::uint64_t{k.code} << 8) ^ k.width);
        }
    };

    std::mutex mutex_;
    std::unordered_map<Key, std::string, KeyHash> texts_;  // nodes stay put; "" for no meaning
};

}  // namespace skyrec
