// The section 4 bit writer: unsigned fields of 0 to 64 bits, most
// significant bit first, gathered a machine word at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "base/checks.hpp"

namespace skyrec {

class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) noexcept : out_(out) {}

    // Appends the low `width` bits of `value` (0 to 64; the bits above must be 0).
    void write(std::uint32_t width, std::uint64_t value) {
        SKYREC_EXPECT(width <= 64 && (width == 64 || value >> width == 0));
        if (width < 64 - used_) {
            word_ = (word_ << width) | value;
            used_ += width;
            return;
        }
        const std::uint32_t room = 64 - used_;
        const std::uint32_t rest = width - room;
        const std::uint64_t head = room == 64 ? 0 : word_ << room;
        emit_word(head | (value >> rest));
        word_ = rest == 0 ? 0 : value & ((std::uint64_t{1} << rest) - 1);
        used_ = rest;
    }

    // Appends `n` whole bytes.
    void write_bytes(const std::uint8_t* bytes, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            write(8, bytes[i]);
    }

    std::uint64_t bits() const noexcept { return written_ * 8 + used_; }

    // Writes out the last bits, the final octet filled with zeros.
    void finish();

private:
    void emit_word(std::uint64_t word);

    std::vector<std::uint8_t>& out_;
    std::uint64_t word_ = 0;  // the low `used_` bits are pending
    std::uint32_t used_ = 0;
    std::uint64_t written_ = 0;  // bytes emitted
};

}  // namespace skyrec
