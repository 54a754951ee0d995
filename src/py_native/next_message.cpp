// next_message(data, position): the next message of a buffer at or after
// `position` (of edition 2, 3 or 4), framed, or the error that stopped its
// framing and its kind.
#include "message/message_cursor.hpp"
#include "py_common/args.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_types.hpp"
#include "py_common/pyref.hpp"
#include "py_common/unlocked.hpp"
#include "py_native/buffer_arg.hpp"
#include "py_native/functions.hpp"

namespace skyrec::py {
namespace {

// (start, length, next position, BufrMessage or None, error text or None,
// error kind or None).
PyObject* found_tuple(FoundMessage&& found, std::size_t next_position) {
    Ref message = Ref::borrow(Py_None);
    Ref error = Ref::borrow(Py_None);
    Ref kind = Ref::borrow(Py_None);
    if (found.framed) {
        message = Ref::steal(new_bufr_message(std::move(found.framed).value()));
    } else {
        error = Ref::steal(lossy_str(found.framed.error().reason()));
        kind = Ref::steal(PyUnicode_FromString(found.framed.error().kind_name()));
    }
    if (!message || !error || !kind) return nullptr;
    return Py_BuildValue("(nnnOOO)", static_cast<Py_ssize_t>(found.start), static_cast<Py_ssize_t>(found.length),
                         static_cast<Py_ssize_t>(next_position), message.get(), error.get(), kind.get());
}

PyObject* next_message(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"data", "position", nullptr};
    PyObject *data_obj, *position_obj;
    if (!parse_args(args, kwargs, "OO:next_message", names, &data_obj, &position_obj)) return nullptr;
    auto buffer = HeldBuffer::of(data_obj, "data");
    if (!buffer) return nullptr;
    std::uint64_t position = 0;
    if (!uint_arg(position_obj, "position", PY_SSIZE_T_MAX, &position)) return nullptr;
    const ByteView bytes = buffer->bytes();
    MessageCursor cursor(bytes, static_cast<std::size_t>(std::min<std::uint64_t>(position, bytes.size)));
    // A search may pass a long stretch of bytes that are not messages.
    auto found = unlocked([&] { return cursor.next(); });
    if (!found) return nullptr;
    if (!*found) Py_RETURN_NONE;
    return found_tuple(std::move(**found), cursor.position());
}

}  // namespace

PyMethodDef next_message_def = {"next_message", kw_method(guard<next_message>), METH_VARARGS | METH_KEYWORDS,
                                "next_message(data, position)\n--\n\n"};

}  // namespace skyrec::py
