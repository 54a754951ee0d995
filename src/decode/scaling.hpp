// Turning raw integers into scaled values and replication counts.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace skyrec {

__extension__ using Int128 = __int128;

// All ones in the low `width` bits (width 0 gives 0, width 64 all 64 ones).
constexpr std::uint64_t all_ones(std::uint32_t width) noexcept {
    return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
}

// pow(10.0, scale) from the standard power function, tabulated for the usual
// scales so that each value costs no call.
class PowersOfTen {
public:
    static constexpr int kLimit = 400;
    PowersOfTen() noexcept {
        for (int s = -kLimit; s <= kLimit; ++s)
            table_[s + kLimit] = std::pow(10.0, s);
    }
    double operator()(std::int64_t scale) const noexcept {
        if (scale >= -kLimit && scale <= kLimit) return table_[scale + kLimit];
        return std::pow(10.0, static_cast<double>(scale));
    }

private:
    double table_[2 * kLimit + 1];
};

extern const PowersOfTen powers_of_ten;

// (raw + reference) / divisor, the sum formed exactly before rounding to double.
inline double scaled_value(std::uint64_t raw, std::int64_t reference, double divisor) noexcept {
    std::int64_t sum;
    if (raw <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) &&
        !__builtin_add_overflow(static_cast<std::int64_t>(raw), reference, &sum)) {
        return static_cast<double>(sum) / divisor;
    }
    return static_cast<double>(static_cast<Int128>(raw) + reference) / divisor;
}

// A replication factor's value as a count: absent, negative and NaN give 0,
// the fraction is dropped, 2^64 and above saturate.
inline std::uint64_t saturating_count(double value) noexcept {
    if (!(value > 0.0)) return 0;
    if (value >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

}  // namespace skyrec
