// The pieces that decode_block and observation_rows take: each a tuple
// (data, file, offsets, messages, tables[, base]), the messages of `data`
// that start at `offsets` (file offsets, data holding the file's bytes from
// `base` on, 0 when not given), each decoded with the TableSet at the same
// place in `tables` and tagged with the piece's `file` code and the message's
// number from `messages`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/interrupt.hpp"
#include "base/limits.hpp"
#include "base/result.hpp"
#include "binding/pyref.hpp"
#include "binding_native/buffer_arg.hpp"
#include "columns/block_columns.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace skyrec::py {

struct Piece {
    HeldBuffer data;
    std::int32_t file;
    std::size_t base;
    std::vector<std::size_t> offsets;
    std::vector<std::int64_t> messages;
    std::vector<const TableSet*> tables;
};

// A message that added nothing: which piece, its position in the piece's offsets, why.
struct PieceFailure {
    std::size_t piece;
    std::size_t position;
    std::string reason;
    std::string where;
    BufrError::Kind kind;
};

// The pieces of the sequence `obj`; `held` keeps their tables alive while the
// lock is released. nullopt with an error set.
std::optional<std::vector<Piece>> pieces_arg(PyObject* obj, std::vector<Ref>& held);

// A new tuple (piece, position, reason, where, kind name).
PyObject* failure_tuple(const PieceFailure& failure);

// The framed message at `offset` of `bytes`, and its whole bytes.
struct FramedAt {
    BufrMessage message;
    ByteView whole;
};
Result<FramedAt> frame_at(ByteView bytes, std::size_t offset);

// Calls decode(message, tables, section4, whole_length, tag) for every message
// of every piece in order (Result<std::size_t>: the rows it added), until an
// interrupt is asked for; `rows` receives each message's rows (0 for a
// failure), the result lists the failures.
template <class Decode>
std::vector<PieceFailure> for_each_message(const std::vector<Piece>& pieces, Decode&& decode,
                                           std::vector<std::uint64_t>& rows) {
    std::vector<PieceFailure> failures;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const Piece& piece = pieces[p];
        for (std::size_t i = 0; i < piece.offsets.size(); ++i) {
            if (interrupt_requested()) return failures;
            const MessageTag tag{piece.file, piece.messages[i], static_cast<std::int64_t>(piece.offsets[i])};
            Result<std::size_t> added = memory_error();
            try {
                Result<FramedAt> framed = piece.offsets[i] < piece.base
                                              ? Result<FramedAt>(BufrError::missing_marker())
                                              : frame_at(piece.data.bytes(), piece.offsets[i] - piece.base);
                if (!framed) {
                    added = std::move(framed).error();
                } else {
                    const FramedAt& f = framed.value();
                    added = decode(f.message, *piece.tables[i], f.message.section4_data(f.whole), f.whole.size, tag);
                }
            } catch (const std::bad_alloc&) {
            }
            rows.push_back(added ? *added : 0);
            if (!added) {
                failures.push_back({p, i, added.error().reason(), added.error().where(), added.error().kind()});
            }
        }
    }
    return failures;
}

}  // namespace skyrec::py
