// message_headers(data, position=0, end=None): the header fields of every
// message whose "BUFR" lies in [position, end), one array per field, found
// while other threads run; messages that cannot be framed are listed in
// "errors" as (row, reason), and "resume" says where a scan of these bytes
// with more after them would go on. No Python object is made per message.
#include <limits>

#include "columns/header_columns.hpp"
#include "lib/args.hpp"
#include "lib/boxed.hpp"
#include "lib/errors.hpp"
#include "lib/pyref.hpp"
#include "lib/signal_watch.hpp"
#include "native/buffer_arg.hpp"
#include "native/bytearrays.hpp"
#include "native/functions.hpp"

namespace skyrec::py {
namespace {

PyObject* failure_tuple(const HeaderColumns::Failure& f) {
    Ref reason = Ref::steal(lossy_str(f.reason));
    if (!reason) return nullptr;
    return Py_BuildValue("(nO)", static_cast<Py_ssize_t>(f.row), reason.get());
}

PyObject* headers_dict(const HeaderColumns& h) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    const bool ok = set_bytearrays(dict.get(), {raw_array("offset", h.offset),
                                                raw_array("length", h.length),
                                                raw_array("framed", h.framed),
                                                raw_array("edition", h.edition),
                                                raw_array("master_table", h.master_table),
                                                raw_array("centre", h.centre),
                                                raw_array("subcentre", h.subcentre),
                                                raw_array("update_sequence", h.update_sequence),
                                                raw_array("category", h.category),
                                                raw_array("subcategory", h.subcategory),
                                                raw_array("local_subcategory", h.local_subcategory),
                                                raw_array("master_version", h.master_version),
                                                raw_array("local_version", h.local_version),
                                                raw_array("year", h.year),
                                                raw_array("month", h.month),
                                                raw_array("day", h.day),
                                                raw_array("hour", h.hour),
                                                raw_array("minute", h.minute),
                                                raw_array("second", h.second),
                                                raw_array("subsets", h.subsets),
                                                raw_array("observed", h.observed),
                                                raw_array("compressed", h.compressed)}) &&
                    set_item(dict.get(), "count", PyLong_FromSize_t(h.size())) &&
                    set_item(dict.get(), "resume", PyLong_FromSize_t(h.resume)) &&
                    set_item(dict.get(), "errors", list_of(h.errors, failure_tuple));
    return ok ? dict.release() : nullptr;
}

PyObject* message_headers(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"data", "position", "end", nullptr};
    PyObject* data_obj = nullptr;
    PyObject* position_obj = nullptr;
    PyObject* end_obj = Py_None;
    if (!parse_args(args, kwargs, "O|OO:message_headers", names, &data_obj, &position_obj, &end_obj)) return nullptr;
    auto buffer = HeldBuffer::of(data_obj, "data");
    if (!buffer) return nullptr;
    std::uint64_t position = 0;
    std::uint64_t end = std::numeric_limits<std::uint64_t>::max();
    if (position_obj != nullptr && !uint_arg(position_obj, "position", PY_SSIZE_T_MAX, &position)) return nullptr;
    if (end_obj != Py_None && !uint_arg(end_obj, "end", PY_SSIZE_T_MAX, &end)) return nullptr;
    const ByteView bytes = buffer->bytes();
    SignalWatch watch;
    const HeaderColumns headers = [&] {
        WithoutGil unlocked;
        return scan_headers(bytes, static_cast<std::size_t>(std::min<std::uint64_t>(position, bytes.size)),
                            static_cast<std::size_t>(std::min<std::uint64_t>(end, bytes.size)));
    }();
    if (watch.raised()) return nullptr;
    return headers_dict(headers);
}

}  // namespace

PyMethodDef message_headers_def = {"message_headers", kw_method(guard<message_headers>), METH_VARARGS | METH_KEYWORDS,
                                   "message_headers(data, position=0, end=None)\n--\n\n"};

}  // namespace skyrec::py
