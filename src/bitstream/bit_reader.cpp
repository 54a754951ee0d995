#include "bitstream/bit_reader.hpp"

#include <string>

namespace skyrec {

void bytes_at(ByteView data, std::uint64_t position, std::uint32_t width, std::uint8_t* out) noexcept {
    SKYREC_EXPECT(position <= data.size * 8 && width <= data.size * 8 - position);
    std::uint32_t whole = width / 8;
    const std::uint32_t tail = width % 8;
    if ((position & 7) == 0) {
        // A text of no bytes may have nowhere to go: no copy to make then.
        if (whole != 0) std::memcpy(out, data.data + (position >> 3), whole);
        out += whole;
        position += 8 * std::uint64_t{whole};
    } else {
        // Unaligned bytes, eight at a time.
        for (; whole >= 8; whole -= 8, out += 8, position += 64) {
            const std::uint64_t word = __builtin_bswap64(bits_at(data, position, 64));
            std::memcpy(out, &word, 8);
        }
        for (; whole > 0; --whole, ++out, position += 8)
            *out = static_cast<std::uint8_t>(bits_at(data, position, 8));
    }
    if (tail != 0) *out = static_cast<std::uint8_t>(bits_at(data, position, tail) << (8 - tail));
}

std::uint32_t BitReader::read_bytes_into(std::uint32_t width, std::uint8_t* out) noexcept {
    const std::uint32_t whole = width / 8;
    const std::uint32_t tail = width % 8;
    if (width > remaining()) {
        // Read byte by byte, the failing piece names itself: a whole byte (8)
        // or the tail. Bytes before it are consumed, as in a piecewise read.
        const std::uint64_t fitting = remaining() / 8;
        if (fitting < whole) {
            position_ += fitting * 8;
            return 8;
        }
        position_ += std::uint64_t{whole} * 8;
        return tail;
    }
    bytes_at(data(), position_, width, out);
    position_ += width;
    return 0;
}

BufrError BitReader::read_error(std::uint32_t width) const {
    if (width > 64) return BufrError::unsupported("cannot read " + std::to_string(width) + " bits into u64");
    return BufrError::bits_exhausted("not enough bits while reading section 4 at bit " + std::to_string(position_) +
                                     " for width " + std::to_string(width) + " (" + std::to_string(total_) +
                                     " bits available)");
}

}  // namespace skyrec
