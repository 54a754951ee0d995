// The pieces that decode_block and observation_rows take: each a tuple
// (framing, file, rows, messages, tables, base), the rows of one header
// pass (message_headers(..., keep=True)["framing"]) to decode, tagged with
// the piece's `file` code, the message's number from `messages` and its
// offset (`base`: where the framed bytes start in the file). `tables` is a
// TableSet for every message, a sequence of one per row, or a callable
// taking a BufrMessage and returning its TableSet (or raising DecodeError),
// called once per table key and call, before the lock is released.
#pragma once

#include <deque>
#include <optional>
#include <vector>

#include "message/header_pass.hpp"
#include "pipeline/message_loop.hpp"
#include "py_common/pyref.hpp"
#include "py_native/buffer_arg.hpp"

namespace skyrec::py {

// A header pass with its framed records, and the bytes they were framed from.
struct Framing {
    HeldBuffer data;
    HeaderColumns headers;
};

// A new capsule owning `framing`; nullptr with an error set.
PyObject* framing_capsule(Framing&& framing);

struct PiecesArg {
    std::vector<FramedPiece> pieces;
    std::deque<TableChoice> choices;  // never moves an item: the pieces point at them
    std::vector<Ref> framings;        // alive while the lock is released
    std::vector<Ref> tables;          // the TableSets resolved, once each
};

// The pieces of the sequence `obj`, their tables resolved; nullopt with an error set.
std::optional<PiecesArg> pieces_arg(PyObject* obj);

// A new tuple (piece, position, reason, where, kind, subset or None, path:
// 6-digit descriptor strings, outermost first).
PyObject* failure_tuple(const MessageFailure& failure);

}  // namespace skyrec::py
