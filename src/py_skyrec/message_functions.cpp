// parse_bytes, parse_file, parse_all_bytes, parse_all_file.
#include <vector>

#include "base/file.hpp"
#include "message/scan.hpp"
#include "py_common/args.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_types.hpp"
#include "py_common/pyref.hpp"

namespace skyrec::py {
namespace {

PyObject* message_list(std::vector<BufrMessage>&& records) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(records.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < records.size(); ++i) {
        PyObject* item = new_bufr_message(std::move(records[i]));
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

// Reads a message file whole; a failure is the system's OSError, not a ValueError.
template <class Parse, class Wrap>
PyObject* parse_path(PyObject* args, PyObject* kwargs, const char* format, Parse&& parse, Wrap&& wrap) {
    static const char* const names[] = {"path", nullptr};
    PyObject* path_obj;
    if (!parse_args(args, kwargs, format, names, &path_obj)) return nullptr;
    auto path = str_arg(path_obj, "path");
    if (!path) return nullptr;
    auto bytes = read_file_bytes(*path);
    if (!bytes) return raise_os_error(bytes.error());
    return finish(parse(ByteView{bytes->data(), bytes->size()}), wrap);
}

template <class Parse, class Wrap>
PyObject* parse_data(PyObject* args, PyObject* kwargs, const char* format, Parse&& parse, Wrap&& wrap) {
    static const char* const names[] = {"data", nullptr};
    PyObject* data_obj;
    if (!parse_args(args, kwargs, format, names, &data_obj)) return nullptr;
    auto data = bytes_arg(data_obj, "data");
    if (!data) return nullptr;
    return finish(parse(*data), wrap);
}

PyObject* parse_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
    return parse_data(args, kwargs, "O:parse_bytes", frame_message, new_bufr_message);
}
PyObject* parse_file(PyObject*, PyObject* args, PyObject* kwargs) {
    return parse_path(args, kwargs, "O:parse_file", frame_message, new_bufr_message);
}
PyObject* parse_all_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
    return parse_data(args, kwargs, "O:parse_all_bytes", parse_all, message_list);
}
PyObject* parse_all_file(PyObject*, PyObject* args, PyObject* kwargs) {
    return parse_path(args, kwargs, "O:parse_all_file", parse_all, message_list);
}

}  // namespace

PyMethodDef parse_bytes_def = {"parse_bytes", kw_method(guard<parse_bytes>), METH_VARARGS | METH_KEYWORDS,
                               "parse_bytes(data)\n--\n\n"};
PyMethodDef parse_file_def = {"parse_file", kw_method(guard<parse_file>), METH_VARARGS | METH_KEYWORDS,
                              "parse_file(path)\n--\n\n"};
PyMethodDef parse_all_bytes_def = {"parse_all_bytes", kw_method(guard<parse_all_bytes>), METH_VARARGS | METH_KEYWORDS,
                                   "parse_all_bytes(data)\n--\n\n"};
PyMethodDef parse_all_file_def = {"parse_all_file", kw_method(guard<parse_all_file>), METH_VARARGS | METH_KEYWORDS,
                                  "parse_all_file(path)\n--\n\n"};

}  // namespace skyrec::py
