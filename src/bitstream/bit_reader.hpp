// The section 4 bit reader: unsigned fields of 0 to 64 bits and byte strings,
// most significant bit first. Borrows the data; owns nothing.
#pragma once

#include <cstdint>
#include <cstring>

#include "base/bytes.hpp"
#include "base/checks.hpp"
#include "base/error.hpp"

namespace skyrec {

// The last bytes of `data` from `byte` on, fewer than eight, as the start of
// a 64-bit word in memory order, zero-filled. Kept out of line so that the
// common path below stays small enough to inline into every read.
[[gnu::noinline, gnu::cold]] inline std::uint64_t tail_word(ByteView data, std::uint64_t byte) noexcept {
    std::uint8_t tail[8] = {};
    std::memcpy(tail, data.data + byte, data.size - byte);
    std::uint64_t word;
    std::memcpy(&word, tail, 8);
    return word;
}

// The eight bytes of `data` from `byte` on as a number, most significant
// first, zero-filled past the end.
[[gnu::always_inline]] inline std::uint64_t word_at(ByteView data, std::uint64_t byte) noexcept {
    std::uint64_t word;
    if (data.size - byte >= 8) [[likely]] {
        std::memcpy(&word, data.data + byte, 8);
    } else {
        word = tail_word(data, byte);
    }
    return __builtin_bswap64(word);
}

// The `width` bits (1 to 64) at bit `position` of `data`, for a field known
// to lie within it. One unaligned 64-bit load serves all but the fields that
// reach into a ninth byte or lie within the last eight bytes.
[[gnu::always_inline]] inline std::uint64_t bits_at(ByteView data, std::uint64_t position,
                                                    std::uint32_t width) noexcept {
    SKYREC_EXPECT(width >= 1 && width <= 64 && position <= data.size * 8 && width <= data.size * 8 - position);
    const std::uint64_t byte = position >> 3;
    const unsigned shift = static_cast<unsigned>(position & 7);
    std::uint64_t word = word_at(data, byte) << shift;
    // Up to 7 bits of the field may lie in a ninth byte.
    if (shift + width > 64) word |= std::uint64_t{data.data[byte + 8]} >> (8 - shift);
    return word >> (64 - width);
}

// Fields of at most 57 bits never reach a ninth byte.
inline constexpr std::uint32_t kOneWordBits = 57;

// Copies ceil(width / 8) bytes from bit `position` of `data` into `out`, the
// last one zero-filled in its low bits, for bytes known to lie within it.
void bytes_at(ByteView data, std::uint64_t position, std::uint32_t width, std::uint8_t* out) noexcept;

class BitReader {
public:
    explicit BitReader(ByteView data) noexcept
        : data_(data.data), size_(data.size), total_(std::uint64_t{data.size} * 8) {}

    std::uint64_t position() const noexcept { return position_; }
    std::uint64_t total() const noexcept { return total_; }
    std::uint64_t remaining() const noexcept { return total_ - position_; }
    ByteView data() const noexcept { return {data_, size_}; }

    // The hot path. Reads `width` bits into `out`, or returns false (width
    // above 64, or the field does not fit) with the position unchanged; then
    // read_error(width) is the error. Width 0 always succeeds with 0.
    bool read(std::uint32_t width, std::uint64_t& out) noexcept {
        if (width == 0) {
            out = 0;
            return true;
        }
        if (width > 64 || width > total_ - position_) return false;
        out = take(width);
        return true;
    }

    // read() for the fields of elements and operators, most of which fit in
    // one load: 1 to 57 bits with two tests.
    bool read_field(std::uint32_t width, std::uint64_t& out) noexcept {
        if (width - 1 < kOneWordBits && width <= total_ - position_) [[likely]] {
            out = (word_at(ByteView{data_, size_}, position_ >> 3) << (position_ & 7)) >> (64 - width);
            position_ += width;
            return true;
        }
        return read(width, out);
    }

    // Moves forward by whole fields without reading them (to place the
    // position on a field that is known not to fit, before read_error).
    void skip(std::uint64_t bits) noexcept { position_ += bits; }

    // Reads ceil(width / 8) bytes into `out`, the last one zero-filled in its
    // low bits. Returns 0, or on failure the width of the byte (8) or of the
    // tail (width mod 8) that did not fit, with the position before it.
    std::uint32_t read_bytes_into(std::uint32_t width, std::uint8_t* out) noexcept;

    // The error for a read of `width` bits at the current position.
    BufrError read_error(std::uint32_t width) const;

private:
    // 1 <= width <= 64, and the field fits.
    std::uint64_t take(std::uint32_t width) noexcept {
        SKYREC_EXPECT(width >= 1 && width <= 64 && width <= total_ - position_);
        const std::uint64_t value = bits_at(ByteView{data_, size_}, position_, width);
        position_ += width;
        return value;
    }

    const std::uint8_t* data_;
    std::uint64_t size_;
    std::uint64_t total_;
    std::uint64_t position_ = 0;
};

}  // namespace skyrec
