// Turning table text fields into numbers, with the exact failure texts that
// users see ("bad i32 \"x\": invalid digit found in string").
#pragma once

#include <cstdint>
#include <string_view>

#include "base/descriptor.hpp"
#include "base/result.hpp"

namespace skyrec {

// Decimal text to an integer of type T: one optional leading "+" (or "-" for
// signed T), then ASCII digits only; leading zeros allowed. Returns nullptr on
// success, otherwise the reason: "cannot parse integer from empty string",
// "invalid digit found in string", "number too large to fit in target type" or
// "number too small to fit in target type", whichever happens first from the
// left. Instantiated for int32, int64, uint16, uint32 and uint64.
template <class T>
const char* parse_decimal(std::string_view text, T& out) noexcept;

// Trims Unicode white space, then double quotes at both ends, and reads an
// unsigned 32-bit code. Failure: "bad descriptor code {text}: {reason}".
Result<DescriptorCode> parse_code_field(std::string_view text);

// Untrimmed decimal fields. Failure: "bad i32 {text}: {reason}" (i64, u16 alike).
Result<std::int32_t> parse_i32_field(std::string_view text);
Result<std::int64_t> parse_i64_field(std::string_view text);
Result<std::uint16_t> parse_u16_field(std::string_view text);

}  // namespace skyrec
