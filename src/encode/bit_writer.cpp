#include "encode/bit_writer.hpp"

#include <cstring>

namespace skyrec {

void BitWriter::emit_word(std::uint64_t word) {
    const std::size_t at = out_.size();
    out_.resize(at + 8);
    const std::uint64_t big = __builtin_bswap64(word);
    std::memcpy(out_.data() + at, &big, 8);
    written_ += 8;
}

void BitWriter::finish() {
    if (used_ == 0) return;
    const std::uint64_t aligned = word_ << (64 - used_);
    const std::uint32_t bytes = (used_ + 7) / 8;
    for (std::uint32_t i = 0; i < bytes; ++i)
        out_.push_back(static_cast<std::uint8_t>(aligned >> (56 - 8 * i)));
    written_ += bytes;
    word_ = 0;
    used_ = 0;
}

}  // namespace skyrec
