// Descriptor codes: F × 100000 + X × 1000 + Y in one unsigned 32-bit integer.
#pragma once

#include <cstdint>
#include <string>

namespace skyrec {

using DescriptorCode = std::uint32_t;

constexpr DescriptorCode make_code(std::uint32_t f, std::uint32_t x, std::uint32_t y) noexcept {
    return f * 100000u + x * 1000u + y;
}

// The code that expanded lists and decoded values give an associated field
// (2-04-YYY), which no Table B entry has.
inline constexpr DescriptorCode kAssociatedFieldCode = 999999;

constexpr std::uint32_t code_f(DescriptorCode c) noexcept { return c / 100000u; }
constexpr std::uint32_t code_x(DescriptorCode c) noexcept { return (c % 100000u) / 1000u; }
constexpr std::uint32_t code_y(DescriptorCode c) noexcept { return c % 1000u; }

// The 16 bits of a section 3 descriptor: F in bits 15..14, X in 13..8, Y in 7..0.
constexpr DescriptorCode code_from_wire(std::uint16_t v) noexcept {
    return make_code(v >> 14, (v >> 8) & 63u, v & 255u);
}

// Decimal, zero-padded to at least six digits ("001001", "1000000").
std::string descriptor_text(DescriptorCode code);

}  // namespace skyrec
