#include "py_native/message_arg.hpp"

#include "py_common/args.hpp"
#include "py_common/module_types.hpp"

namespace skyrec::py {

bool threads_arg(PyObject* obj, unsigned* out) {
    if (obj == nullptr) return true;  // not given: the default already in *out
    if (!PyLong_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "threads must be an int, not %.200s", Py_TYPE(obj)->tp_name);
        return false;
    }
    int overflow = 0;
    const long long threads = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (threads == -1 && PyErr_Occurred()) return false;
    if (overflow != 0 || threads < 1 || threads > kMostThreads) {
        PyErr_Format(PyExc_ValueError, "threads must be from 1 to %u, not %R", kMostThreads, obj);
        return false;
    }
    *out = static_cast<unsigned>(threads);
    return true;
}

std::optional<MessageArgs> message_args(PyObject* args, PyObject* kwargs, const char* format, unsigned* threads) {
    static const char* const names[] = {"data", "start", "message", "tables", nullptr};
    static const char* const threaded[] = {"data", "start", "message", "tables", "threads", nullptr};
    PyObject *data_obj, *start_obj, *message_obj, *tables_obj, *threads_obj = nullptr;
    const bool parsed = threads == nullptr
                            ? parse_args(args, kwargs, format, names, &data_obj, &start_obj, &message_obj, &tables_obj)
                            : parse_args(args, kwargs, format, threaded, &data_obj, &start_obj, &message_obj,
                                         &tables_obj, &threads_obj) &&
                                  threads_arg(threads_obj, threads);
    if (!parsed) return std::nullopt;
    auto buffer = HeldBuffer::of(data_obj, "data");
    if (!buffer) return std::nullopt;
    std::uint64_t start = 0;
    if (!uint_arg(start_obj, "start", PY_SSIZE_T_MAX, &start)) return std::nullopt;
    const BufrMessage* message = bufr_message_arg(message_obj, "message");
    if (message == nullptr) return std::nullopt;
    const TableSet* tables = table_set_arg(tables_obj, "tables");
    if (tables == nullptr) return std::nullopt;

    const ByteView whole = buffer->bytes();
    const std::uint64_t length = message->total_length;
    const bool inside = start <= whole.size && length <= whole.size - start &&
                        message->section4_data_offset <= length &&
                        message->section4_data_length <= length - message->section4_data_offset;
    if (!inside) {
        PyErr_SetString(PyExc_ValueError, "the message does not lie within data at start");
        return std::nullopt;
    }
    const ByteView bytes = whole.subview(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
    if (!framed_from(bytes, *message)) {
        PyErr_SetString(PyExc_ValueError, "the message was not framed from data at start");
        return std::nullopt;
    }
    return MessageArgs{std::move(*buffer), bytes, message, tables, data_obj, tables_obj};
}

}  // namespace skyrec::py
