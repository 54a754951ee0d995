// A decoded message as the encoder takes it: its header as it stands and
// its values as raw integers and text bytes, so that writing it again loses
// nothing.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/bytes.hpp"
#include "base/result.hpp"
#include "encode/encode_message.hpp"
#include "encode/slots.hpp"
#include "encode/transcode.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

// The header of `message`, framed from `bytes`, to write it again in `edition`:
// octets and padding kept when the edition is its own.
MessageHeader header_of(const BufrMessage& message, ByteView bytes, std::uint8_t edition);

// Every value of the message, subset by subset, with the references that
// 203YYY defines in their own slots, and `changes` (in order of subset and
// position, as transcode_message takes them) in place of the values they name.
Result<FlatSlots> slots_of(const BufrMessage& message, ByteView bytes, const TableSet& tables,
                           std::span<const ValueChange> changes = {});

}  // namespace skyrec
