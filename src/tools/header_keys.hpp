// The header keys of a framed message by their ecCodes names, as numbers:
// what copy's conditions and output names are made of.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "message/message.hpp"

namespace skyrec {

// A header key, by its place in header_key_names().
using HeaderKey = std::uint8_t;

// Every header key: the section 0 and 1 fields, numberOfSubsets, and
// typicalDate (YYYYMMDD) and typicalTime (HHMMSS).
std::span<const std::string_view> header_key_names() noexcept;

// The key named `name`, or nullopt for a name that is no header key.
std::optional<HeaderKey> header_key(std::string_view name) noexcept;

// The value of `key` in `m`.
std::int64_t header_value(const BufrMessage& m, HeaderKey key) noexcept;

}  // namespace skyrec
