// A borrowed, read-only byte range and big-endian field readers over it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace skyrec {

struct ByteView {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;

    ByteView subview(std::size_t start, std::size_t length) const noexcept { return {data + start, length}; }
};

inline std::uint32_t read_u16(const std::uint8_t* p) noexcept { return (std::uint32_t{p[0]} << 8) | p[1]; }
inline std::uint32_t read_u24(const std::uint8_t* p) noexcept {
    return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

}  // namespace skyrec
