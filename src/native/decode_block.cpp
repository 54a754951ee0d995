// decode_block(pieces): the messages of several pieces as one set of columns.
// Each piece is a tuple (data, file, offsets, messages, tables[, base]): the
// messages of `data` that start at `offsets` (file offsets, data holding the
// file's bytes from `base` on, 0 when not given), each decoded with the TableSet at the
// same place in `tables`, their rows tagged with the piece's `file` code, the
// message's number from `messages` and its offset. Framing, decoding and
// filling the columns run while other threads run; the columns go to Python
// without a copy (as OwnedBuffer objects, codes narrowed to the bytes their
// categories need), categories merged across every message. A message that
// fails adds no rows and is listed in "errors" as (piece, position in its
// offsets, reason); "rows" holds each message's number of values, piece after
// piece.
#include <new>
#include <string>
#include <vector>

#include "columns/block_columns.hpp"
#include "lib/args.hpp"
#include "lib/boxed.hpp"
#include "lib/errors.hpp"
#include "lib/module_types.hpp"
#include "lib/pyref.hpp"
#include "lib/signal_watch.hpp"
#include "message/interrupt.hpp"
#include "message/limits.hpp"
#include "message/message_cursor.hpp"
#include "native/buffer_arg.hpp"
#include "native/functions.hpp"
#include "native/result_dict.hpp"
#include "native/value_columns.hpp"

namespace skyrec::py {
namespace {

constexpr const char* kPieceShape = "each piece must be a tuple (data, file, offsets, messages, tables[, base])";

struct Piece {
    HeldBuffer data;
    std::int32_t file;
    std::size_t base;
    std::vector<std::size_t> offsets;
    std::vector<std::int64_t> messages;
    std::vector<const TableSet*> tables;
};

struct Failure {
    std::size_t piece;
    std::size_t position;
    std::string reason;
    std::string where;
};

struct Block {
    BlockColumns columns;
    std::vector<std::uint64_t> rows;
    std::vector<Failure> errors;
};

// One message's values appended to `builder`: how many, or the reason it has none.
Result<std::size_t> decode_one(ByteView bytes, std::size_t offset, const TableSet& tables, BlockBuilder& builder,
                               const MessageTag& tag) {
    MessageCursor cursor(bytes, offset);
    auto found = offset < bytes.size ? cursor.next() : std::nullopt;
    if (!found || found->start != offset) return BufrError::missing_marker();
    if (!found->framed) return std::move(found->framed).error();
    const BufrMessage& message = found->framed.value();
    const ByteView whole = bytes.subview(offset, found->length);
    const std::size_t before = builder.size();
    SKYREC_CHECK(builder.append(message, tables, message.section4_data(whole), found->length, tag));
    return builder.size() - before;
}

Block decode_all(const std::vector<Piece>& pieces) {
    Block block;
    BlockBuilder builder;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const Piece& piece = pieces[p];
        for (std::size_t i = 0; i < piece.offsets.size(); ++i) {
            if (interrupt_requested()) return block;
            const MessageTag tag{piece.file, piece.messages[i], static_cast<std::int64_t>(piece.offsets[i])};
            Result<std::size_t> added = memory_error();
            try {
                if (piece.offsets[i] < piece.base) {
                    added = BufrError::missing_marker();
                } else {
                    added =
                        decode_one(piece.data.bytes(), piece.offsets[i] - piece.base, *piece.tables[i], builder, tag);
                }
            } catch (const std::bad_alloc&) {
            }
            block.rows.push_back(added ? *added : 0);
            if (!added) block.errors.push_back({p, i, added.error().reason(), added.error().where()});
        }
    }
    block.columns = builder.take();
    block.columns.narrow();
    return block;
}

// The items of `obj`, a sequence of `count` items, each converted by
// `convert(item, &out)`; false with an error set.
template <class T, class Convert>
bool items_of(PyObject* obj, const char* name, std::size_t count, std::vector<T>& out, Convert&& convert) {
    Ref seq = Ref::steal(PySequence_Fast(obj, "a piece's offsets, messages and tables must be sequences"));
    if (!seq) return false;
    if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq.get())) != count) {
        PyErr_Format(PyExc_ValueError, "a piece's %s and offsets differ in length", name);
        return false;
    }
    out.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!convert(PySequence_Fast_GET_ITEM(seq.get(), static_cast<Py_ssize_t>(i)), &out[i])) return false;
    }
    return true;
}

// One piece's arguments; `held` keeps its tables alive while the lock is released.
std::optional<Piece> piece_arg(PyObject* obj, std::vector<Ref>& held) {
    if (!PyTuple_Check(obj) || PyTuple_GET_SIZE(obj) < 5 || PyTuple_GET_SIZE(obj) > 6) {
        PyErr_SetString(PyExc_TypeError, kPieceShape);
        return std::nullopt;
    }
    auto data = HeldBuffer::of(PyTuple_GET_ITEM(obj, 0), "data");
    if (!data) return std::nullopt;
    std::uint64_t file = 0;
    if (!uint_arg(PyTuple_GET_ITEM(obj, 1), "file", INT32_MAX - 1, &file)) return std::nullopt;
    std::uint64_t base = 0;
    if (PyTuple_GET_SIZE(obj) == 6 && !uint_arg(PyTuple_GET_ITEM(obj, 5), "base", PY_SSIZE_T_MAX, &base)) {
        return std::nullopt;
    }
    Piece piece{std::move(*data), static_cast<std::int32_t>(file), static_cast<std::size_t>(base), {}, {}, {}};

    Ref offsets = Ref::steal(PySequence_Fast(PyTuple_GET_ITEM(obj, 2), "a piece's offsets must be a sequence"));
    if (!offsets) return std::nullopt;
    const auto count = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(offsets.get()));
    const bool ok =
        items_of(offsets.get(), "offsets", count, piece.offsets,
                 [](PyObject* item, std::size_t* out) {
                     std::uint64_t offset = 0;
                     if (!uint_arg(item, "offsets", PY_SSIZE_T_MAX, &offset)) return false;
                     *out = static_cast<std::size_t>(offset);
                     return true;
                 }) &&
        items_of(PyTuple_GET_ITEM(obj, 3), "messages", count, piece.messages,
                 [](PyObject* item, std::int64_t* out) {
                     *out = PyLong_AsLongLong(item);
                     return !(*out == -1 && PyErr_Occurred());
                 }) &&
        items_of(PyTuple_GET_ITEM(obj, 4), "tables", count, piece.tables, [&](PyObject* item, const TableSet** out) {
            *out = table_set_arg(item, "tables");
            if (*out == nullptr) return false;
            held.push_back(Ref::borrow(item));
            return true;
        });
    if (!ok) return std::nullopt;
    return piece;
}

PyObject* failure_tuple(const Failure& f) {
    Ref reason = Ref::steal(lossy_str(f.reason));
    Ref where = Ref::steal(lossy_str(f.where));
    if (!reason || !where) return nullptr;
    return Py_BuildValue("(nnOO)", static_cast<Py_ssize_t>(f.piece), static_cast<Py_ssize_t>(f.position), reason.get(),
                         where.get());
}

PyObject* block_dict(Block& block) {
    BlockColumns& c = block.columns;
    const std::size_t n = c.size();
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    const bool ok = set_codes(d, "file", c.file, n, c.code_width(static_cast<std::size_t>(c.files))) &&
                    set_column(d, "message", c.message, n) && set_column(d, "offset", c.offset, n) &&
                    set_value_columns(d, c) && set_item(d, "rows", bytearray_of(block.rows)) &&
                    set_item(d, "errors", list_of(block.errors, failure_tuple));
    return ok ? dict.release() : nullptr;
}

PyObject* decode_block(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"pieces", nullptr};
    PyObject* pieces_obj;
    if (!parse_args(args, kwargs, "O:decode_block", names, &pieces_obj)) return nullptr;
    Ref pieces_seq = Ref::steal(PySequence_Fast(pieces_obj, "argument 'pieces' must be a sequence"));
    if (!pieces_seq) return nullptr;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(pieces_seq.get());
    std::vector<Piece> pieces;
    pieces.reserve(static_cast<std::size_t>(count));
    // The tables must live while the lock is released, whatever happens
    // to the sequences meanwhile.
    std::vector<Ref> held;
    for (Py_ssize_t i = 0; i < count; ++i) {
        auto piece = piece_arg(PySequence_Fast_GET_ITEM(pieces_seq.get(), i), held);
        if (!piece) return nullptr;
        pieces.push_back(std::move(*piece));
    }
    SignalWatch watch;
    Block block = [&] {
        WithoutGil unlocked;
        return decode_all(pieces);
    }();
    if (watch.raised()) return nullptr;
    return block_dict(block);
}

}  // namespace

PyMethodDef decode_block_def = {"decode_block", kw_method(guard<decode_block>), METH_VARARGS | METH_KEYWORDS,
                                "decode_block(pieces)\n--\n\n"};

}  // namespace skyrec::py
