#include "bitstream/bit_reader.hpp"

#include <string>

namespace skyrec {

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
    if ((position_ & 7) == 0) {
        std::memcpy(out, data_ + (position_ >> 3), whole);
        position_ += std::uint64_t{whole} * 8;
    } else {
        for (std::uint32_t i = 0; i < whole; ++i)
            out[i] = static_cast<std::uint8_t>(take(8));
    }
    if (tail != 0) out[whole] = static_cast<std::uint8_t>(take(tail) << (8 - tail));
    return 0;
}

BufrError BitReader::read_error(std::uint32_t width) const {
    if (width > 64) return BufrError::text("cannot read " + std::to_string(width) + " bits into u64");
    return BufrError::text("not enough bits while reading section 4 at bit " + std::to_string(position_) +
                           " for width " + std::to_string(width) + " (" + std::to_string(total_) + " bits available)");
}

Result<std::uint64_t> BitReader::read_bits(std::uint16_t width) {
    std::uint64_t value = 0;
    if (!read(width, value)) return read_error(width);
    return value;
}

Result<std::vector<std::uint8_t>> BitReader::read_bytes(std::uint16_t width) {
    std::vector<std::uint8_t> out((width + 7u) / 8u);
    if (const std::uint32_t failed = read_bytes_into(width, out.data()); failed != 0) return read_error(failed);
    return out;
}

}  // namespace skyrec
