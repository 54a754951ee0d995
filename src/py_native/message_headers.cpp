// message_headers(data, position=0, end=None, keep=False): the header fields
// of every message whose "BUFR" lies in [position, end), one array per field,
// found while other threads run; messages that cannot be framed are listed in
// "errors" as (row, reason, kind), and "resume" says where a scan of these bytes
// with more after them would go on. No Python object is made per message.
// With `keep`, "framing" holds the framed messages and their bytes, for
// decode_block and observation_rows to decode without framing them again.
#include <limits>

#include "message/header_pass.hpp"
#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/pyref.hpp"
#include "py_common/unlocked.hpp"
#include "py_native/buffer_arg.hpp"
#include "py_native/functions.hpp"
#include "py_native/message_pieces.hpp"
#include "py_native/owned_buffer.hpp"
#include "py_native/result_dict.hpp"

namespace skyrec::py {
namespace {

PyObject* failure_tuple(const HeaderColumns::Failure& f) {
    Ref reason = Ref::steal(lossy_str(f.reason));
    if (!reason) return nullptr;
    return Py_BuildValue("(nOs)", static_cast<Py_ssize_t>(f.row), reason.get(), f.kind);
}

// The one place that names the header columns; each buffer says its item type.
PyObject* headers_dict(const HeaderColumns& h) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    const auto column = [d](const char* key, const auto& items) { return set_item(d, key, owned_copy(items)); };
    const auto flags = [d](const char* key, const std::vector<std::uint8_t>& items) {
        return set_item(d, key, owned_copy(items, item_format<bool>()));
    };
    const bool ok =
        column("offset", h.offset) && column("length", h.length) && flags("framed", h.framed) &&
        column("edition", h.edition) && column("master_table", h.master_table) && column("centre", h.centre) &&
        column("subcentre", h.subcentre) && column("update_sequence", h.update_sequence) &&
        column("category", h.category) && column("subcategory", h.subcategory) &&
        column("local_subcategory", h.local_subcategory) && column("master_version", h.master_version) &&
        column("local_version", h.local_version) && column("year", h.year) && column("month", h.month) &&
        column("day", h.day) && column("hour", h.hour) && column("minute", h.minute) && column("second", h.second) &&
        column("subsets", h.subsets) && flags("observed", h.observed) && flags("compressed", h.compressed) &&
        set_item(d, "count", PyLong_FromSize_t(h.size())) && set_item(d, "resume", PyLong_FromSize_t(h.resume)) &&
        set_item(d, "errors", list_of(h.errors, failure_tuple));
    return ok ? dict.release() : nullptr;
}

PyObject* message_headers(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"data", "position", "end", "keep", nullptr};
    PyObject* data_obj = nullptr;
    PyObject* position_obj = nullptr;
    PyObject* end_obj = Py_None;
    int keep = 0;
    if (!parse_args(args, kwargs, "O|OOp:message_headers", names, &data_obj, &position_obj, &end_obj, &keep)) {
        return nullptr;
    }
    auto buffer = HeldBuffer::of(data_obj, "data");
    if (!buffer) return nullptr;
    std::uint64_t position = 0;
    std::uint64_t end = std::numeric_limits<std::uint64_t>::max();
    if (position_obj != nullptr && !uint_arg(position_obj, "position", PY_SSIZE_T_MAX, &position)) return nullptr;
    if (end_obj != Py_None && !uint_arg(end_obj, "end", PY_SSIZE_T_MAX, &end)) return nullptr;
    const ByteView bytes = buffer->bytes();
    auto scanned = unlocked([&] {
        return scan_headers(bytes, static_cast<std::size_t>(std::min<std::uint64_t>(position, bytes.size)),
                            static_cast<std::size_t>(std::min<std::uint64_t>(end, bytes.size)), keep != 0);
    });
    if (!scanned) return nullptr;
    HeaderColumns& headers = *scanned;
    Ref dict = Ref::steal(headers_dict(headers));
    if (!dict || !keep) return dict.release();
    if (!set_item(dict.get(), "framing", framing_capsule({std::move(*buffer), std::move(headers)}))) return nullptr;
    return dict.release();
}

// How many messages this process has framed: for tests that a read frames each once.
PyObject* messages_framed(PyObject*, PyObject*) { return PyLong_FromUnsignedLongLong(skyrec::messages_framed()); }

}  // namespace

PyMethodDef messages_framed_def = {"messages_framed", messages_framed, METH_NOARGS, "messages_framed()\n--\n\n"};

PyMethodDef message_headers_def = {"message_headers", kw_method(guard<message_headers>), METH_VARARGS | METH_KEYWORDS,
                                   "message_headers(data, position=0, end=None, keep=False)\n--\n\n"};

}  // namespace skyrec::py
