// A decoded message written again in one pass: the decoder's walk reads
// each field of its uncompressed data and the same field is written at once,
// its raw bits as they stand or, where a change names it, the new value.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/bytes.hpp"
#include "base/result.hpp"
#include "encode/encode_message.hpp"
#include "encode/slots.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// Value `position` of `subset`, counted as the decoder lists them (markers
// included, 203YYY references not), becomes `slot`.
struct ValueChange {
    std::size_t subset = 0;
    std::size_t position = 0;
    Slot slot;
};

// The refusal of a change that names no value of the message.
BufrError no_such_value(const ValueChange& change);

// `message` (framed from `bytes`, uncompressed) under `header`, with
// `changes` in order of subset and position, each value at most once.
// Replication factors, bitmap entries and other class 31 values keep
// their bits: they shape what follows them.
Result<std::vector<std::uint8_t>> transcode_message(const MessageHeader& header, const BufrMessage& message,
                                                    ByteView bytes, const TableSet& tables,
                                                    std::span<const ValueChange> changes, const EncodeOptions& options);

}  // namespace skyrec
