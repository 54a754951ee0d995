#include "binding_native/message_pieces.hpp"

#include <utility>

#include "binding/args.hpp"
#include "binding/errors.hpp"
#include "binding/module_types.hpp"
#include "message/message_cursor.hpp"

namespace skyrec::py {
namespace {

constexpr const char* kPieceShape = "each piece must be a tuple (data, file, offsets, messages, tables[, base])";

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

}  // namespace

std::optional<std::vector<Piece>> pieces_arg(PyObject* obj, std::vector<Ref>& held) {
    Ref seq = Ref::steal(PySequence_Fast(obj, "argument 'pieces' must be a sequence"));
    if (!seq) return std::nullopt;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(seq.get());
    std::vector<Piece> pieces;
    pieces.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        auto piece = piece_arg(PySequence_Fast_GET_ITEM(seq.get(), i), held);
        if (!piece) return std::nullopt;
        pieces.push_back(std::move(*piece));
    }
    return pieces;
}

PyObject* failure_tuple(const PieceFailure& f) {
    Ref reason = Ref::steal(lossy_str(f.reason));
    Ref where = Ref::steal(lossy_str(f.where));
    if (!reason || !where) return nullptr;
    return Py_BuildValue("(nnOOs)", static_cast<Py_ssize_t>(f.piece), static_cast<Py_ssize_t>(f.position), reason.get(),
                         where.get(), kind_name(f.kind));
}

Result<FramedAt> frame_at(ByteView bytes, std::size_t offset) {
    MessageCursor cursor(bytes, offset);
    auto found = offset < bytes.size ? cursor.next() : std::nullopt;
    if (!found || found->start != offset) return BufrError::missing_marker();
    if (!found->framed) return std::move(found->framed).error();
    return FramedAt{std::move(found->framed).value(), bytes.subview(offset, found->length)};
}

}  // namespace skyrec::py
